// Argument conversion (Python to C++) and result conversion (C++ to Python).
#pragma once

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "data/data.hpp"
#include "python/objects.hpp"

namespace kavrel::python {

std::string type_name(PyObject* object);

// Raises TypeError "'{type}' object cannot be converted to '{target}'".
bool cannot_convert(PyObject* object, const char* target);

// A copied-in array of doubles that lives on the stack when it is small.
class OwnedValues {
 public:
  void assign(const double* values, size_t n) {
    size_ = n;
    double* out = n <= inline_.size() ? inline_.data() : (heap_.resize(n), heap_.data());
    if (n > 0) std::memcpy(out, values, n * sizeof(double));
  }
  std::span<const double> span() const {
    return {size_ <= inline_.size() ? inline_.data() : heap_.data(), size_};
  }

 private:
  std::array<double, 48> inline_;  // not zeroed: only the first size_ values are read
  std::vector<double> heap_;
  size_t size_ = 0;
};

// A two-dimensional float64 array that the body takes as a Rows x Cols matrix,
// read element by element through its strides. `rows` and `cols` are the
// array's own shape; the elements are copied only when it is Rows x Cols (they
// stay zero otherwise), so that a huge array is refused without being read.
template <Py_ssize_t Rows, Py_ssize_t Cols>
struct MatrixArgument {
  Py_ssize_t rows = 0;
  Py_ssize_t cols = 0;
  std::array<double, Rows * Cols> values{};  // row-major
  double operator()(Py_ssize_t i, Py_ssize_t j) const { return values[i * Cols + j]; }
};

bool finish_rows(PyArrayObject* array, Py_ssize_t expected_cols, Py_ssize_t& rows, Py_ssize_t& cols,
                 std::vector<double>& out);

// Any number of rows of Cols values, copied only when the width is Cols.
template <Py_ssize_t Cols>
struct RowsArgument {
  Py_ssize_t rows = 0;
  Py_ssize_t cols = 0;
  std::vector<double> values;  // row-major
};

// The converter of each parameter type of a function body. `load` runs in
// signature order and may take access to the object; `finish` runs after
// all parameters are loaded and copies arrays in.
template <class P>
struct Converter;

// A Model, Data, SE3 or ReferenceFrame object, held for the whole call.
template <Boxed T, bool Exclusive>
struct BoxConverter {
  Access access;
  T* value = nullptr;
  bool load(PyObject* object) {
    if (!is_instance<T>(object)) return cannot_convert(object, PyClass<T>::name);
    if (!(Exclusive ? access.take_exclusive(object) : access.take_shared(object))) return false;
    value = &box_of<T>(object)->value;
    return true;
  }
  bool finish() { return true; }
};

template <Boxed T>
struct Converter<const T&> : BoxConverter<T, false> {
  const T& get() { return *this->value; }
};

template <Boxed T>
struct Converter<T&> : BoxConverter<T, true> {
  T& get() { return *this->value; }
};

// Small values are copied out under a momentary shared access.
template <Boxed T>
struct Converter<T> {
  std::optional<T> value;
  bool load(PyObject* object) {
    Converter<const T&> shared;
    if (!shared.load(object)) return false;
    value = shared.get();
    return true;
  }
  bool finish() { return true; }
  T get() { return *value; }
};

template <>
struct Converter<size_t> {
  size_t value = 0;
  bool load(PyObject* object);
  bool finish() { return true; }
  size_t get() { return value; }
};

// An integer of either sign, or None.
struct IntegerOrNone {
  std::optional<long long> value;
};

template <>
struct Converter<IntegerOrNone> {
  IntegerOrNone value;
  bool load(PyObject* object);
  bool finish() { return true; }
  IntegerOrNone get() { return value; }
};

// A two-dimensional, C-contiguous float64 array of states, one per row. Only
// its shape is read at conversion; the body copies the values once it has
// checked the shape.
struct StateRows {
  PyArrayObject* array = nullptr;
  size_t rows = 0;
  size_t cols = 0;
  void copy_to(std::vector<double>& out) const;
};

template <>
struct Converter<const StateRows&> {
  StateRows value;
  bool load(PyObject* object);
  bool finish();
  const StateRows& get() { return value; }
};

template <>
struct Converter<double> {
  double value = 0.0;
  bool load(PyObject* object);
  bool finish() { return true; }
  double get() { return value; }
};

template <>
struct Converter<std::string> {
  std::string value;
  bool load(PyObject* object);
  bool finish() { return true; }
  std::string get() { return std::move(value); }
};

template <>
struct Converter<std::span<const double>> {
  Converter() {}  // user-provided, so that the tuple of converters does not zero the inline values
  PyArrayObject* array = nullptr;
  OwnedValues values;
  bool load(PyObject* object);
  bool finish();
  std::span<const double> get() { return values.span(); }
};

bool load_matrix(PyObject* object, PyArrayObject*& array);
// Sets `rows` and `cols`; copies into `out` only an array of the expected shape.
bool finish_matrix(PyArrayObject* array, Py_ssize_t expected_rows, Py_ssize_t expected_cols, Py_ssize_t& rows,
                   Py_ssize_t& cols, double* out);

template <Py_ssize_t Rows, Py_ssize_t Cols>
struct Converter<const MatrixArgument<Rows, Cols>&> {
  PyArrayObject* array = nullptr;
  MatrixArgument<Rows, Cols> value;
  bool load(PyObject* object) { return load_matrix(object, array); }
  bool finish() { return finish_matrix(array, Rows, Cols, value.rows, value.cols, value.values.data()); }
  const MatrixArgument<Rows, Cols>& get() { return value; }
};

template <Py_ssize_t Cols>
struct Converter<const RowsArgument<Cols>&> {
  PyArrayObject* array = nullptr;
  RowsArgument<Cols> value;
  bool load(PyObject* object) { return load_matrix(object, array); }
  bool finish() { return finish_rows(array, Cols, value.rows, value.cols, value.values); }
  const RowsArgument<Cols>& get() { return value; }
};

// A parameter with a default: left out, it is std::nullopt.
template <class T>
struct Converter<std::optional<T>> {
  Converter<T> inner;
  bool present = false;
  bool load_missing() { return true; }
  bool load(PyObject* object) {
    present = true;
    return inner.load(object);
  }
  bool finish() { return !present || inner.finish(); }
  std::optional<T> get() { return present ? std::optional<T>(inner.get()) : std::nullopt; }
};

// A Python bytes object, copied.
struct Bytes {
  std::string data;
};

template <>
struct Converter<Bytes> {
  Bytes value;
  bool load(PyObject* object);
  bool finish() { return true; }
  Bytes get() { return std::move(value); }
};

// A tuple of exactly sizeof...(T) items, each converted as its own parameter type.
template <class... T>
struct Converter<std::tuple<T...>> {
  std::tuple<Converter<T>...> items;
  bool load(PyObject* object) {
    if (!PyTuple_Check(object) || PyTuple_Size(object) != static_cast<Py_ssize_t>(sizeof...(T))) {
      static const std::string target = "tuple of " + std::to_string(sizeof...(T));
      return cannot_convert(object, target.c_str());
    }
    return std::apply([&](auto&... item) {
      Py_ssize_t i = 0;
      return (item.load(PyTuple_GetItem(object, i++)) && ...);
    }, items);
  }
  bool finish() {
    return std::apply([](auto&... item) { return (item.finish() && ...); }, items);
  }
  std::tuple<T...> get() {
    return std::apply([](auto&... item) { return std::tuple<T...>(item.get()...); }, items);
  }
};

// One point as a (3,) array or many as an (N, 3) array; the shape is the body's to check.
struct PointsArgument {
  bool single = false;
  RowsArgument<3> points;  // one row for a single point
};

template <>
struct Converter<const PointsArgument&> {
  Converter<std::span<const double>> one;
  Converter<const RowsArgument<3>&> many;
  PointsArgument value;
  bool load(PyObject* object);
  bool finish();
  const PointsArgument& get() { return value; }
};

// Results. Bodies return C++ values; these turn them into new Python
// objects. Each returns a new reference, or nullptr with an exception set.
//
// An array result that the binding allocates and the body's `fill` writes in
// place, in C order: fill(double* out) writes every element of the shape.
template <class Fill>
struct ArrayResult {
  std::array<npy_intp, 4> shape{};  // the first ndim are used
  int ndim = 0;
  Fill fill;
  std::shared_ptr<ResultBlocks> blocks = nullptr;  // recycled memory for large values, or none
};

template <class Fill>
ArrayResult<Fill> array_result(std::initializer_list<size_t> shape, Fill fill) {
  ArrayResult<Fill> result{{}, static_cast<int>(shape.size()), std::move(fill)};
  std::transform(shape.begin(), shape.end(), result.shape.begin(), [](size_t n) { return static_cast<npy_intp>(n); });
  return result;
}

// A view of a result that lives in the workspace or the model.
template <class T>
using Ref = std::reference_wrapper<const T>;

PyObject* to_python(Unit);
PyObject* to_python(bool value);
PyObject* to_python(size_t value);
PyObject* to_python(double value);
PyObject* to_python(const std::string& text);
PyObject* to_python(std::optional<size_t> value);
PyObject* to_python(const std::vector<std::string>& names);
PyObject* to_python(const std::vector<size_t>& values);
PyObject* to_python(std::span<const double> values);
inline PyObject* to_python(const std::vector<double>& values) { return to_python(std::span<const double>(values)); }
inline PyObject* to_python(const Vector& values) { return to_python(std::span<const double>(values.data(), values.size())); }
PyObject* to_python(const Matrix& matrix);
PyObject* to_python(const std::vector<SE3>& transforms);

template <Boxed T>
PyObject* to_python(T&& value) { return wrap<T>(std::forward<T>(value)); }
template <Boxed T>
PyObject* to_python(const T& value) { return wrap<T>(T(value)); }

template <class T>
PyObject* to_python(Ref<T> view) { return to_python(view.get()); }

PyObject* to_python(const Bytes& bytes);

// The class object itself, as the callable of a pickling recipe.
template <Boxed T>
struct ClassObject {};

template <Boxed T>
PyObject* to_python(ClassObject<T>) {
  return Py_NewRef(reinterpret_cast<PyObject*>(PyClass<T>::type));
}

// The recipe (getattr, (class, name)): unpickling gives back the class's own attribute.
template <Boxed T>
struct ClassAttribute {
  const char* name;
};

PyObject* class_attribute_recipe(PyTypeObject* type, const char* name);

template <Boxed T>
PyObject* to_python(ClassAttribute<T> attribute) {
  return class_attribute_recipe(PyClass<T>::type, attribute.name);
}

// A new C-ordered float64 array of the given shape, to be filled in place.
PyObject* new_array(int ndim, const npy_intp* shape, double** values);
// The same, its values in a block of `blocks` when they are large; the block
// goes back to `blocks` when the array is freed.
PyObject* new_array(int ndim, const npy_intp* shape, double** values, const std::shared_ptr<ResultBlocks>& blocks);

// Raises the Python exception of an error value.
PyObject* raise(const Error& error);

// A fill that returns a Status may refuse; the array is then dropped.
template <class Fill>
PyObject* to_python(ArrayResult<Fill>&& result) {
  double* out = nullptr;
  PyObject* array = new_array(result.ndim, result.shape.data(), &out, result.blocks);
  if (array == nullptr) return nullptr;
  try {
    if constexpr (std::is_same_v<decltype(result.fill(out)), Status>) {
      if (Status status = result.fill(out); !status) {
        Py_DECREF(array);
        return raise(status.error());
      }
    } else {
      result.fill(out);
    }
  } catch (...) {
    Py_DECREF(array);
    throw;
  }
  return array;
}

// A tuple of converted values; nothing is leaked when one conversion fails.
template <class... T>
PyObject* to_python(std::tuple<T...>&& values) {
  PyObject* tuple = PyTuple_New(sizeof...(T));
  if (tuple == nullptr) return nullptr;
  bool ok = true;
  Py_ssize_t i = 0;
  std::apply([&](auto&&... value) {
    ((ok = ok && [&] {
       PyObject* item = to_python(std::move(value));
       if (item != nullptr) PyTuple_SetItem(tuple, i++, item);
       return item != nullptr;
     }()), ...);
  }, values);
  if (!ok) Py_CLEAR(tuple);
  return tuple;
}


template <class T>
PyObject* to_python(Result<T>&& result) {
  if (!result) return raise(result.error());
  return to_python(std::move(result.value()));
}

}  // namespace kavrel::python
