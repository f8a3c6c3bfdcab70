// The one mechanism behind every function, method, constructor and property:
// bind the arguments to the names of the text signature, convert them in
// order (taking access to Model and Data objects), copy arrays in, run the
// body, convert its result, and map every failure to a Python exception.
// Tables of rows instantiate it; a body is a plain C++ function whose
// parameter types say how each argument is converted.
#pragma once

#include <tuple>
#include <type_traits>
#include <utility>

#include "python/convert.hpp"
#include "python/fixed_string.hpp"

namespace kavrel::python {

// Lets other Python threads run for the lifetime of the object; the code
// inside touches no Python object.
class WithoutInterpreterLock {
 public:
  WithoutInterpreterLock() : state_(PyEval_SaveThread()) {}
  ~WithoutInterpreterLock() { PyEval_RestoreThread(state_); }
  WithoutInterpreterLock(const WithoutInterpreterLock&) = delete;
  WithoutInterpreterLock& operator=(const WithoutInterpreterLock&) = delete;

 private:
  PyThreadState* state_;
};

// Raises the internal-failure exception, creating its class on first use.
PyObject* raise_panic(const char* message);

// Step 1: places positional and keyword arguments into one slot per parameter,
// or raises TypeError in the interpreter's wording. Keywords come either as a
// vectorcall name tuple with values, or as a dict.
bool bind_arguments(const Signature& sig, std::string_view owner, PyObject* const* positional,
                    Py_ssize_t npositional, PyObject* kwnames, PyObject* const* kwvalues,
                    PyObject* kwdict, PyObject** slots);

// Prefixes a pending TypeError with "argument '{name}': ", chaining the original.
void prefix_type_error(std::string_view parameter);

template <class F>
struct BodyTraits;
template <class R, class... P>
struct BodyTraits<R (*)(P...)> {
  using Return = R;
  static constexpr size_t arity = sizeof...(P);
  template <template <class...> class List>
  using Apply = List<P...>;
};

template <class... P>
struct Converters {
  std::tuple<Converter<P>...> items;
};

// Runs `body` with every failure turned into a Python exception.
template <class F>
PyObject* guarded(F&& body) noexcept {
  try {
    return body();
  } catch (const InternalFailure& failure) {
    return raise_panic(failure.what());
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& failure) {
    return raise_panic(failure.what());
  } catch (...) {
    return raise_panic("unknown native failure");
  }
}

template <auto Body, const Signature& Sig>
struct Invocation {
  using Traits = BodyTraits<decltype(Body)>;
  static_assert(Traits::arity == Sig.count + (Sig.has_self ? 1 : 0),
                "the body's parameters must match the text signature");

  template <class... P>
  static PyObject* run(std::tuple<Converter<P>...>& converters, PyObject* self, PyObject* const* slots) {
    return run_indexed(converters, self, slots, std::index_sequence_for<P...>{});
  }

  template <class Tuple, size_t... I>
  static PyObject* run_indexed(Tuple& converters, PyObject* self, PyObject* const* slots,
                               std::index_sequence<I...>) {
    constexpr size_t first = Sig.has_self ? 1 : 0;
    [[maybe_unused]] auto load = [&](auto index) {
      constexpr size_t i = decltype(index)::value;
      if constexpr (Sig.has_self && i == 0) {
        return std::get<0>(converters).load(self);
      } else {
        auto& converter = std::get<i>(converters);
        // Only a parameter with a default may be left out, and its body takes std::optional.
        if constexpr (requires { converter.load_missing(); }) {
          if (slots[i - first] == nullptr) return converter.load_missing();
        } else {
          static_assert(!Sig.has_default[i - first], "a parameter with a default is a std::optional");
        }
        if (converter.load(slots[i - first])) return true;
        if (PyErr_ExceptionMatches(PyExc_TypeError)) prefix_type_error(Sig.parameters[i - first]);
        return false;
      }
    };
    if (!(load(std::integral_constant<size_t, I>{}) && ...)) return nullptr;
    if (!(std::get<I>(converters).finish() && ...)) return nullptr;
    using R = typename Traits::Return;
    if constexpr (std::is_void_v<R>) {
      Body(std::get<I>(converters).get()...);
      Py_RETURN_NONE;
    } else {
      return to_python(Body(std::get<I>(converters).get()...));
    }
  }

  static PyObject* call(PyObject* self, PyObject* const* slots) {
    return guarded([&]() -> PyObject* {
      typename Traits::template Apply<Converters> converters;
      return run(converters.items, self, slots);
    });
  }
};

// A module function or method: METH_FASTCALL | METH_KEYWORDS.
template <FixedString Owner, FixedString Sig, auto Body>
struct FastCall {
  static constexpr Signature sig = parse_signature(Sig.view());
  static PyObject* call(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    // Every parameter given by position, in order: the arguments are the slots.
    if (kwnames == nullptr && nargs == static_cast<Py_ssize_t>(sig.count))
      return Invocation<Body, sig>::call(self, args);
    PyObject* slots[kMaxParameters] = {};
    const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_Size(kwnames) : 0;
    if (!bind_arguments(sig, Owner.view(), args, nargs, nkw > 0 ? kwnames : nullptr, args + nargs,
                        nullptr, slots))
      return nullptr;
    return Invocation<Body, sig>::call(self, slots);
  }
};

// A constructor: tp_new with a tuple and a dict.
template <FixedString Owner, FixedString Sig, auto Body>
struct Constructor {
  static constexpr Signature sig = parse_signature(Sig.view());
  static PyObject* call(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    PyObject* slots[kMaxParameters] = {};
    static constexpr auto owner = to_static_text<Owner.view().size() + 8>(Owner.view(), ".__new__");
    const Py_ssize_t n = PyTuple_Size(args);
    PyObject* positional[kMaxParameters + 1] = {};
    for (Py_ssize_t i = 0; i < n && i <= static_cast<Py_ssize_t>(kMaxParameters); ++i)
      positional[i] = PyTuple_GetItem(args, i);
    if (!bind_arguments(sig, owner.c_str(), positional, n, nullptr, nullptr, kwargs, slots))
      return nullptr;
    return Invocation<Body, sig>::call(nullptr, slots);
  }
};

// A read-only property, __repr__ or __str__: the body takes only self.
inline constexpr Signature kSelfOnly{{}, {}, 0, true, {}};

template <auto Body>
PyObject* property_getter(PyObject* self, void*) {
  return Invocation<Body, kSelfOnly>::call(self, nullptr);
}

template <auto Body>
PyObject* self_text(PyObject* self) {
  return Invocation<Body, kSelfOnly>::call(self, nullptr);
}

// Rows of the declarative tables.
template <FixedString Owner, FixedString Sig, auto Body, FixedString Doc = "", int Flags = 0>
PyMethodDef method_row() {
  static constexpr Signature sig = parse_signature(Sig.view());
  static constexpr auto name = to_static_text<sig.name.size()>(sig.name);
  static constexpr auto doc =
      to_static_text<Sig.view().size() + 5 + Doc.view().size()>(Sig.view(), "\n--\n\n", Doc.view());
  return {name.c_str(),
          reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&FastCall<Owner, Sig, Body>::call)),
          METH_FASTCALL | METH_KEYWORDS | Flags, doc.c_str()};
}

template <FixedString Sig, auto Body, FixedString Doc = "">
PyMethodDef function_row() {
  return method_row<"", Sig, Body, Doc>();
}

template <FixedString Name, auto Body, FixedString Doc = "">
PyGetSetDef property_row() {
  return {Name.text, &property_getter<Body>, nullptr, Doc.view().empty() ? nullptr : Doc.text, nullptr};
}

// One Python class: its constructor, method and property tables, text forms.
struct ClassSpec {
  const char* name;
  const char* doc;  // "Name(signature)\n--\n\n", or nullptr
  int basic_size;
  destructor dealloc;
  newfunc construct;
  PyMethodDef* methods;
  PyGetSetDef* properties;
  reprfunc repr;
  reprfunc str;
  binaryfunc multiply = nullptr;  // the `*` operator, or none
};

PyTypeObject* create_class(const ClassSpec& definition);

// Adds a class attribute to a class from create_class, before the module
// publishes it; Python code cannot, the class being immutable.
bool set_class_attribute(PyTypeObject* type, const char* name, PyObject* value);

// A binary operator between two objects of one class; NotImplemented for any
// other operand, so that the interpreter tries the other side or raises TypeError.
template <Boxed T, auto Body>
PyObject* binary_operator(PyObject* left, PyObject* right) {
  if (!is_instance<T>(left) || !is_instance<T>(right)) Py_RETURN_NOTIMPLEMENTED;
  return guarded([&]() -> PyObject* {
    Converter<const T&> a, b;
    if (!a.load(left) || !b.load(right)) return nullptr;
    return to_python(Body(a.get(), b.get()));
  });
}

template <Boxed T>
void dealloc_box(PyObject* object) {
  destroy<T>(object);
}

template <FixedString Owner, FixedString Sig>
constexpr auto class_doc() {
  return to_static_text<Owner.view().size() + Sig.view().size() + 5>(Owner.view(), Sig.view(),
                                                                      "\n--\n\n");
}

}  // namespace kavrel::python
