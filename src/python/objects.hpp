// Python objects that own one library value, with their access state.
#pragma once

#include <new>
#include <utility>

#include <memory>

#include "batch/batch.hpp"
#include "data/data.hpp"
#include "python/python.hpp"

namespace kavrel::python {

// 0: free; n > 0: read by n calls; -1: written by one call.
struct BoxHeader {
  PyObject_HEAD
  Py_ssize_t access;
};

template <class T>
struct Box {
  BoxHeader header;
  T value;
};

// Each boxed value type names its Python class; the type object is created
// once, at module initialisation.
template <class T>
inline constexpr const char* class_name = nullptr;
template <> inline constexpr const char* class_name<SE3> = "SE3";
template <> inline constexpr const char* class_name<Model> = "Model";
template <> inline constexpr const char* class_name<Data> = "Data";
template <> inline constexpr const char* class_name<ReferenceFrame> = "ReferenceFrame";

// A batch owns running threads, so its Python object holds it by pointer.
struct BatchHandle {
  std::unique_ptr<Batch> batch;
};
template <> inline constexpr const char* class_name<BatchHandle> = "Batch";

template <class T>
struct PyClass {
  static constexpr const char* name = class_name<T>;
  static inline PyTypeObject* type = nullptr;
};

template <class T>
concept Boxed = class_name<T> != nullptr;

template <Boxed T>
Box<T>* box_of(PyObject* object) { return reinterpret_cast<Box<T>*>(object); }

template <Boxed T>
bool is_instance(PyObject* object) {
  return PyClass<T>::type != nullptr && PyObject_TypeCheck(object, PyClass<T>::type);
}

// A new Python object owning `value`, or nullptr with an exception set.
template <Boxed T>
PyObject* wrap(T&& value) {
  PyTypeObject* type = PyClass<T>::type;
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* object = alloc(type, 0);
  if (object == nullptr) return nullptr;
  auto* box = box_of<T>(object);
  box->header.access = 0;
  new (&box->value) T(std::forward<T>(value));
  return object;
}

template <Boxed T>
void destroy(PyObject* object) {
  PyTypeObject* type = Py_TYPE(object);
  box_of<T>(object)->value.~T();
  auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_object(object);
  Py_DECREF(type);
}

// Shared or exclusive access to one object for the duration of a call.
class Access {
 public:
  Access() = default;
  Access(const Access&) = delete;
  Access& operator=(const Access&) = delete;
  ~Access() { release(); }

  bool take_shared(PyObject* object) {
    auto* header = reinterpret_cast<BoxHeader*>(object);
    if (header->access < 0) {
      PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
      return false;
    }
    header->access += 1;
    header_ = header;
    return true;
  }

  bool take_exclusive(PyObject* object) {
    auto* header = reinterpret_cast<BoxHeader*>(object);
    if (header->access != 0) {
      PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
      return false;
    }
    header->access = -1;
    header_ = header;
    return true;
  }

 private:
  void release() {
    if (header_ == nullptr) return;
    header_->access = header_->access < 0 ? 0 : header_->access - 1;
    header_ = nullptr;
  }
  BoxHeader* header_ = nullptr;
};

}  // namespace kavrel::python
