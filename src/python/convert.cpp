#include "python/convert.hpp"

namespace kavrel::python {

std::string type_name(PyObject* object) {
  PyObject* name = PyType_GetQualName(Py_TYPE(object));
  if (name == nullptr) {
    PyErr_Clear();
    return "?";
  }
  const char* text = PyUnicode_AsUTF8AndSize(name, nullptr);
  std::string out = text != nullptr ? text : "?";
  Py_DECREF(name);
  return out;
}

bool cannot_convert(PyObject* object, const char* target) {
  std::string message = "'" + type_name(object) + "' object cannot be converted to '" + target + "'";
  PyErr_SetString(PyExc_TypeError, message.c_str());
  return false;
}

bool Converter<size_t>::load(PyObject* object) {
  PyObject* index = PyNumber_Index(object);
  if (index == nullptr) return false;
  unsigned long long n = PyLong_AsUnsignedLongLong(index);
  Py_DECREF(index);
  if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  value = static_cast<size_t>(n);
  return true;
}

bool Converter<IntegerOrNone>::load(PyObject* object) {
  if (object == Py_None) return true;
  PyObject* index = PyNumber_Index(object);
  if (index == nullptr) return false;
  const long long n = PyLong_AsLongLong(index);
  Py_DECREF(index);
  if (n == -1 && PyErr_Occurred()) return false;
  value.value = n;
  return true;
}

bool Converter<double>::load(PyObject* object) {
  value = PyFloat_AsDouble(object);
  return !(value == -1.0 && PyErr_Occurred());
}

bool Converter<std::string>::load(PyObject* object) {
  if (!PyUnicode_Check(object)) return cannot_convert(object, "PyString");
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(object, &size);
  if (text == nullptr) return false;
  value.assign(text, static_cast<size_t>(size));
  return true;
}

namespace {
// A float64 array in native byte order with exactly `ndim` dimensions.
PyArrayObject* as_float64_array(PyObject* object, int ndim) {
  if (!PyArray_Check(object)) return nullptr;
  auto* array = reinterpret_cast<PyArrayObject*>(object);
  if (PyArray_NDIM(array) != ndim || PyArray_TYPE(array) != NPY_DOUBLE ||
      !PyArray_ISNOTSWAPPED(array))
    return nullptr;
  return array;
}
// Re-read at copy time: a later argument's conversion may run Python code
// that reshapes or re-types the array in place.
bool still_float64_array(PyArrayObject* array, int ndim) {
  if (as_float64_array(reinterpret_cast<PyObject*>(array), ndim) != nullptr) return true;
  PyErr_SetString(PyExc_TypeError, "The given array changed type or shape during the call");
  return false;
}
}  // namespace

bool Converter<std::span<const double>>::load(PyObject* object) {
  array = as_float64_array(object, 1);
  return array != nullptr || cannot_convert(object, "PyArray<T, D>");
}

bool Converter<std::span<const double>>::finish() {
  if (!still_float64_array(array, 1)) return false;
  if (!PyArray_IS_C_CONTIGUOUS(array) && !PyArray_IS_F_CONTIGUOUS(array)) {
    PyErr_SetString(PyExc_TypeError, "The given array is not contiguous");
    return false;
  }
  values.assign(static_cast<const double*>(PyArray_DATA(array)), static_cast<size_t>(PyArray_DIM(array, 0)));
  return true;
}

bool load_matrix(PyObject* object, PyArrayObject*& array) {
  array = as_float64_array(object, 2);
  return array != nullptr || cannot_convert(object, "PyArray<T, D>");
}

bool finish_matrix(PyArrayObject* array, Py_ssize_t expected_rows, Py_ssize_t expected_cols, Py_ssize_t& rows,
                   Py_ssize_t& cols, double* out) {
  if (!still_float64_array(array, 2)) return false;
  rows = PyArray_DIM(array, 0);
  cols = PyArray_DIM(array, 1);
  if (rows != expected_rows || cols != expected_cols) return true;  // the body refuses the shape
  const char* base = static_cast<const char*>(PyArray_DATA(array));
  const npy_intp row_stride = PyArray_STRIDE(array, 0), col_stride = PyArray_STRIDE(array, 1);
  for (Py_ssize_t i = 0; i < rows; ++i)
    for (Py_ssize_t j = 0; j < cols; ++j)
      std::memcpy(out + i * cols + j, base + i * row_stride + j * col_stride, sizeof(double));
  return true;
}

bool finish_rows(PyArrayObject* array, Py_ssize_t expected_cols, Py_ssize_t& rows, Py_ssize_t& cols,
                 std::vector<double>& out) {
  if (!still_float64_array(array, 2)) return false;
  const Py_ssize_t n = PyArray_DIM(array, 0);
  if (PyArray_DIM(array, 1) == expected_cols) out.resize(static_cast<size_t>(n * expected_cols));
  return finish_matrix(array, n, expected_cols, rows, cols, out.data());
}

bool Converter<const StateRows&>::load(PyObject* object) {
  value.array = as_float64_array(object, 2);
  return value.array != nullptr || cannot_convert(object, "PyArray<T, D>");
}

bool Converter<const StateRows&>::finish() {
  if (!still_float64_array(value.array, 2)) return false;
  if (!PyArray_IS_C_CONTIGUOUS(value.array)) {
    PyErr_SetString(PyExc_TypeError, "The given array is not contiguous");
    return false;
  }
  value.rows = static_cast<size_t>(PyArray_DIM(value.array, 0));
  value.cols = static_cast<size_t>(PyArray_DIM(value.array, 1));
  return true;
}

void StateRows::copy_to(std::vector<double>& out) const {
  const auto* values = static_cast<const double*>(PyArray_DATA(array));
  out.assign(values, values + rows * cols);
}

bool Converter<Bytes>::load(PyObject* object) {
  if (!PyBytes_Check(object)) return cannot_convert(object, "PyBytes");
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(object, &data, &size) < 0) return false;
  value.data.assign(data, static_cast<size_t>(size));
  return true;
}

bool Converter<const PointsArgument&>::load(PyObject* object) {
  value.single = as_float64_array(object, 1) != nullptr;
  return value.single ? one.load(object) : many.load(object);
}

bool Converter<const PointsArgument&>::finish() {
  if (!value.single) {
    if (!many.finish()) return false;
    value.points = many.get();
    return true;
  }
  if (!one.finish()) return false;
  const std::span<const double> point = one.get();
  value.points.rows = 1;
  value.points.cols = static_cast<Py_ssize_t>(point.size());
  value.points.values.assign(point.begin(), point.end());
  return true;
}

PyObject* to_python(const Bytes& bytes) {
  return PyBytes_FromStringAndSize(bytes.data.data(), static_cast<Py_ssize_t>(bytes.data.size()));
}

PyObject* class_attribute_recipe(PyTypeObject* type, const char* name) {
  PyObject* getattr = PyDict_GetItemString(PyEval_GetBuiltins(), "getattr");  // borrowed
  if (getattr == nullptr) {
    PyErr_SetString(PyExc_RuntimeError, "getattr is not a builtin");
    return nullptr;
  }
  return Py_BuildValue("(O(Os))", getattr, reinterpret_cast<PyObject*>(type), name);
}

PyObject* to_python(Unit) { Py_RETURN_NONE; }
PyObject* to_python(bool value) { return PyBool_FromLong(value); }
PyObject* to_python(size_t value) { return PyLong_FromSize_t(value); }
PyObject* to_python(double value) { return PyFloat_FromDouble(value); }

PyObject* to_python(const std::string& text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* to_python(std::optional<size_t> value) {
  if (!value) Py_RETURN_NONE;
  return PyLong_FromSize_t(*value);
}

namespace {
// A new list of converted items; nothing is leaked when one conversion fails.
template <class Item, class Convert>
PyObject* list_of(const std::vector<Item>& items, Convert convert) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(items.size()));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < items.size(); ++i) {
    PyObject* item = convert(items[i]);
    if (item == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SetItem(list, static_cast<Py_ssize_t>(i), item);
  }
  return list;
}
}  // namespace

PyObject* to_python(const std::vector<std::string>& names) {
  return list_of(names, [](const std::string& name) { return to_python(name); });
}

PyObject* to_python(const std::vector<SE3>& transforms) {
  return list_of(transforms, [](const SE3& transform) { return wrap<SE3>(SE3(transform)); });
}

PyObject* to_python(const std::vector<size_t>& values) { return list_of(values, PyLong_FromSize_t); }

namespace {
size_t element_count(int ndim, const npy_intp* shape) {
  size_t n = 1;
  for (int k = 0; k < ndim; ++k) n *= static_cast<size_t>(shape[k]);
  return n;
}

// A C-ordered array over `values`, which `base` owns; takes over the
// reference to `base`, even when it fails.
PyObject* array_over(int ndim, const npy_intp* shape, double* values, PyObject* base) {
  PyObject* array = PyArray_NewFromDescr(&PyArray_Type, PyArray_DescrFromType(NPY_DOUBLE), ndim,
                                         const_cast<npy_intp*>(shape), nullptr, values, NPY_ARRAY_CARRAY, nullptr);
  if (array == nullptr) {
    Py_DECREF(base);
    return nullptr;
  }
  // Steals the base, even when it fails.
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array), base) < 0) {
    Py_DECREF(array);
    return nullptr;
  }
  return array;
}

// Results of up to 32 KiB that the caller has let go of are handed out again:
// making and freeing an array took 45 ns in an empty model's call, and a
// seventh of a 7-joint arm's inverse dynamics call. An array that only this
// list still holds, unchanged since it was made (no weak reference; the same
// flags, dtype, shape and strides), is to the caller a new one once its values
// are written. A result still referenced anywhere is never taken. No lock:
// arrays are made and freed under the interpreter lock, which every
// interpreter that loads a stable-ABI module has.
constexpr size_t kKeptMaxBytes = size_t{32} << 10;

struct Kept {
  PyObject* object = nullptr;  // none: an empty slot
  int flags = 0;
  PyArray_Descr* dtype = nullptr;
  std::array<npy_intp, 3> strides{};
};
std::array<Kept, 8> kept;
size_t next_evicted = 0;

bool released_as(const Kept& entry, int ndim, const npy_intp* shape) {
  if (entry.object == nullptr || Py_REFCNT(entry.object) != 1) return false;
  auto* array = reinterpret_cast<PyArrayObject*>(entry.object);
  if (PyArray_NDIM(array) != ndim) return false;
  if (PyArray_FLAGS(array) != entry.flags || PyArray_DESCR(array) != entry.dtype ||
      reinterpret_cast<PyArrayObject_fields*>(array)->weakreflist != nullptr)
    return false;
  for (int k = 0; k < ndim; ++k)
    if (PyArray_DIM(array, k) != shape[k] || PyArray_STRIDE(array, k) != entry.strides[k]) return false;
  return true;
}

// Keeps a new result: in an empty slot, else in place of one released with
// another shape, else in place of each kept one in turn.
void keep(PyObject* object) {
  Kept* slot = nullptr;
  for (Kept& entry : kept)
    if (entry.object == nullptr || (slot == nullptr && Py_REFCNT(entry.object) == 1)) slot = &entry;
  if (slot == nullptr) slot = &kept[next_evicted++ % kept.size()];
  PyObject* evicted = slot->object;
  auto* array = reinterpret_cast<PyArrayObject*>(object);
  Py_INCREF(object);
  *slot = {object, PyArray_FLAGS(array), PyArray_DESCR(array)};
  std::copy_n(PyArray_STRIDES(array), PyArray_NDIM(array), slot->strides.begin());
  Py_XDECREF(evicted);  // last: the slot is consistent whatever freeing it runs
}
}  // namespace

PyObject* new_array(int ndim, const npy_intp* shape, double** values) {
  const size_t n = element_count(ndim, shape);
  const bool keepable = n * sizeof(double) <= kKeptMaxBytes && ndim <= 3;
  if (keepable)
    for (const Kept& entry : kept)
      if (released_as(entry, ndim, shape)) {
        Py_INCREF(entry.object);
        *values = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(entry.object)));
        return entry.object;
      }
  PyObject* array = PyArray_SimpleNew(ndim, const_cast<npy_intp*>(shape), NPY_DOUBLE);
  if (array == nullptr) return nullptr;
  *values = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array)));
  if (keepable) keep(array);
  return array;
}

namespace {
// Batch results of at least this size go to the batch's recycled blocks.
constexpr size_t kRecycledBytes = size_t{1} << 20;

// The base object of an array in a recycled block.
struct BlockLease {
  std::shared_ptr<ResultBlocks> blocks;
  ResultBlocks::Block block;
};
constexpr const char* kLeaseName = "kavrel.ResultBlock";

void give_back_lease(PyObject* capsule) {
  auto* lease = static_cast<BlockLease*>(PyCapsule_GetPointer(capsule, kLeaseName));
  lease->blocks->give_back(lease->block);
  delete lease;
}
}  // namespace

PyObject* new_array(int ndim, const npy_intp* shape, double** values, const std::shared_ptr<ResultBlocks>& blocks) {
  if (blocks == nullptr) return new_array(ndim, shape, values);
  const size_t n = element_count(ndim, shape);
  if (n * sizeof(double) < kRecycledBytes) return new_array(ndim, shape, values);
  auto* lease = new BlockLease{blocks, blocks->take(n)};
  PyObject* capsule = PyCapsule_New(lease, kLeaseName, give_back_lease);
  if (capsule == nullptr) {
    blocks->give_back(lease->block);
    delete lease;
    return nullptr;
  }
  *values = lease->block.values;
  return array_over(ndim, shape, lease->block.values, capsule);
}

PyObject* to_python(std::span<const double> values) {
  double* out = nullptr;
  const npy_intp shape[] = {static_cast<npy_intp>(values.size())};
  PyObject* array = new_array(1, shape, &out);
  if (array != nullptr && !values.empty()) std::memcpy(out, values.data(), values.size_bytes());
  return array;
}

PyObject* to_python(const Matrix& matrix) {
  // A matrix without rows has no first row to take a width from.
  const npy_intp rows = matrix.rows(), cols = rows == 0 ? 0 : matrix.cols();
  double* out = nullptr;
  const npy_intp shape[] = {rows, cols};
  PyObject* array = new_array(2, shape, &out);
  if (array != nullptr && rows * cols > 0)
    std::memcpy(out, matrix.data(), static_cast<size_t>(rows * cols) * sizeof(double));
  return array;
}

PyObject* raise(const Error& error) {
  PyObject* type = PyExc_RuntimeError;
  switch (error.kind) {
    case ErrorKind::Type: type = PyExc_TypeError; break;
    case ErrorKind::Value: type = PyExc_ValueError; break;
    case ErrorKind::Index: type = PyExc_IndexError; break;
    case ErrorKind::Runtime: type = PyExc_RuntimeError; break;
    case ErrorKind::Overflow: type = PyExc_OverflowError; break;
  }
  // Through a str object, so that a NUL or a stray byte in the text cannot cut it short.
  PyObject* text = PyUnicode_DecodeUTF8(error.message.data(), static_cast<Py_ssize_t>(error.message.size()), "replace");
  if (text == nullptr) return nullptr;
  PyErr_SetObject(type, text);
  Py_DECREF(text);
  return nullptr;
}

}  // namespace kavrel::python
