#include "python/binding.hpp"

#include <string>
#include <vector>

namespace kavrel::python {

namespace {

PyObject* panic_type = nullptr;

std::string full_name(const Signature& sig, std::string_view owner) {
  std::string name(owner);
  if (!owner.empty() && !sig.name.empty()) name += '.';
  name += sig.name;
  return name + "()";
}

bool fail(const std::string& message) {
  PyErr_SetString(PyExc_TypeError, message.c_str());
  return false;
}

// 'a', 'a' and 'b', 'a', 'b', and 'c'
std::string quoted_list(const std::vector<std::string_view>& names) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i != 0) {
      if (names.size() > 2) out += ',';
      out += i + 1 == names.size() ? " and " : " ";
    }
    out += '\'';
    out += names[i];
    out += '\'';
  }
  return out;
}

// Assigns one keyword argument to its slot.
bool bind_keyword(const Signature& sig, std::string_view owner, PyObject* key, PyObject* value,
                  Py_ssize_t npositional, PyObject** slots) {
  Py_ssize_t size = 0;
  const char* text = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &size) : nullptr;
  if (text == nullptr) {
    PyErr_Clear();
    return fail(full_name(sig, owner) + " keywords must be strings");
  }
  const std::string_view keyword(text, static_cast<size_t>(size));
  for (size_t i = 0; i < sig.count; ++i) {
    if (sig.parameters[i] != keyword) continue;
    if (static_cast<Py_ssize_t>(i) < npositional || slots[i] != nullptr)
      return fail(full_name(sig, owner) + " got multiple values for argument '" +
                  std::string(keyword) + "'");
    slots[i] = value;
    return true;
  }
  return fail(full_name(sig, owner) + " got an unexpected keyword argument '" +
              std::string(keyword) + "'");
}

}  // namespace

PyObject* raise_panic(const char* message) {
  if (panic_type == nullptr) {
    panic_type = PyErr_NewExceptionWithDoc(
        "kavrel.PanicException",
        "Raised when the library's native code fails an internal consistency check.\n\n"
        "Like SystemExit, it derives from BaseException rather than Exception, so that it\n"
        "typically propagates all the way up and ends the interpreter.",
        PyExc_BaseException, nullptr);
    if (panic_type == nullptr) return nullptr;
  }
  PyObject* text = PyUnicode_DecodeUTF8(message, static_cast<Py_ssize_t>(std::strlen(message)), "replace");
  if (text == nullptr) return nullptr;
  PyErr_SetObject(panic_type, text);
  Py_DECREF(text);
  return nullptr;
}

bool bind_arguments(const Signature& sig, std::string_view owner, PyObject* const* positional,
                    Py_ssize_t npositional, PyObject* kwnames, PyObject* const* kwvalues,
                    PyObject* kwdict, PyObject** slots) {
  const auto count = static_cast<Py_ssize_t>(sig.count);
  if (npositional > count) {
    return fail(full_name(sig, owner) + " takes " + std::to_string(count) +
                " positional arguments but " + std::to_string(npositional) +
                (npositional == 1 ? " was" : " were") + " given");
  }
  for (Py_ssize_t i = 0; i < npositional; ++i) slots[i] = positional[i];
  if (kwnames != nullptr) {
    const Py_ssize_t n = PyTuple_Size(kwnames);
    for (Py_ssize_t k = 0; k < n; ++k)
      if (!bind_keyword(sig, owner, PyTuple_GetItem(kwnames, k), kwvalues[k], npositional, slots))
        return false;
  }
  if (kwdict != nullptr) {
    PyObject *key = nullptr, *value = nullptr;
    Py_ssize_t position = 0;
    while (PyDict_Next(kwdict, &position, &key, &value))
      if (!bind_keyword(sig, owner, key, value, npositional, slots)) return false;
  }
  std::vector<std::string_view> missing;
  for (size_t i = 0; i < sig.count; ++i)
    if (slots[i] == nullptr && !sig.has_default[i]) missing.push_back(sig.parameters[i]);
  if (!missing.empty()) {
    return fail(full_name(sig, owner) + " missing " + std::to_string(missing.size()) +
                " required positional argument" + (missing.size() == 1 ? "" : "s") + ": " +
                quoted_list(missing));
  }
  return true;
}

void prefix_type_error(std::string_view parameter) {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr && value != nullptr) PyException_SetTraceback(value, traceback);
  PyObject* text = value != nullptr ? PyObject_Str(value) : nullptr;
  const char* inner = text != nullptr ? PyUnicode_AsUTF8AndSize(text, nullptr) : nullptr;
  std::string message = "argument '" + std::string(parameter) + "': " + (inner ? inner : "");
  Py_XDECREF(text);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  PyErr_Clear();
  PyObject* outer = PyObject_CallFunction(PyExc_TypeError, "s", message.c_str());
  if (outer == nullptr) {
    Py_XDECREF(value);
    return;
  }
  if (value != nullptr) PyException_SetCause(outer, value);  // steals value
  PyErr_SetObject(PyExc_TypeError, outer);
  Py_DECREF(outer);
}

PyTypeObject* create_class(const ClassSpec& definition) {
  std::vector<PyType_Slot> slots;
  slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(definition.dealloc)});
  if (definition.doc != nullptr) slots.push_back({Py_tp_doc, const_cast<char*>(definition.doc)});
  if (definition.construct != nullptr) slots.push_back({Py_tp_new, reinterpret_cast<void*>(definition.construct)});
  if (definition.methods != nullptr) slots.push_back({Py_tp_methods, definition.methods});
  if (definition.properties != nullptr) slots.push_back({Py_tp_getset, definition.properties});
  if (definition.repr != nullptr) slots.push_back({Py_tp_repr, reinterpret_cast<void*>(definition.repr)});
  if (definition.str != nullptr) slots.push_back({Py_tp_str, reinterpret_cast<void*>(definition.str)});
  if (definition.multiply != nullptr) slots.push_back({Py_nb_multiply, reinterpret_cast<void*>(definition.multiply)});
  slots.push_back({0, nullptr});
  // Immutable, as built-in types are: `kavrel.Model.nq = 5` would otherwise
  // change every model for the rest of the process.
  PyType_Spec type_spec{definition.name, definition.basic_size, 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots.data()};
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_spec));
}

bool set_class_attribute(PyTypeObject* type, const char* name, PyObject* value) {
  PyObject* key = PyUnicode_InternFromString(name);
  if (key == nullptr) return false;
  // The type's own setattr refuses, being immutable; the generic one writes
  // its dictionary, and the attribute cache is told.
  const int status = PyObject_GenericSetAttr(reinterpret_cast<PyObject*>(type), key, value);
  Py_DECREF(key);
  PyType_Modified(type);
  return status == 0;
}

}  // namespace kavrel::python
