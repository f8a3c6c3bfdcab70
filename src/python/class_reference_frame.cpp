// ReferenceFrame: the coordinates a frame Jacobian is returned in.
#include "python/binding.hpp"
#include "python/classes.hpp"

namespace kavrel::python {

namespace {

ReferenceFrame construct() { return ReferenceFrame::WORLD; }

std::string text(const ReferenceFrame& self) {
  switch (self) {
    case ReferenceFrame::WORLD: return "ReferenceFrame.WORLD";
    case ReferenceFrame::LOCAL: return "ReferenceFrame.LOCAL";
    case ReferenceFrame::LOCAL_WORLD_ALIGNED: return "ReferenceFrame.LOCAL_WORLD_ALIGNED";
  }
  return "ReferenceFrame(" + std::to_string(static_cast<int>(self)) + ")";
}

// Every instance, ReferenceFrame() too, unpickles to the class's own object for its code.
ClassAttribute<ReferenceFrame> reduce(const ReferenceFrame& self) {
  switch (self) {
    case ReferenceFrame::WORLD: return {"WORLD"};
    case ReferenceFrame::LOCAL: return {"LOCAL"};
    case ReferenceFrame::LOCAL_WORLD_ALIGNED: return {"LOCAL_WORLD_ALIGNED"};
  }
  fail_internal("unknown reference frame code " + std::to_string(static_cast<int>(self)));
}

PyMethodDef methods[] = {
    method_row<"ReferenceFrame", "__reduce__($self)", reduce>(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyTypeObject* create_reference_frame_class() {
  PyTypeObject* type =
      create_class({"kavrel.ReferenceFrame", nullptr, sizeof(Box<ReferenceFrame>), dealloc_box<ReferenceFrame>,
                    &Constructor<"ReferenceFrame", "()", construct>::call, methods, nullptr,
                    self_text<text>, nullptr});
  if (type == nullptr) return nullptr;
  PyClass<ReferenceFrame>::type = type;
  // The three named values are created once and stored on the class.
  static constexpr std::pair<const char*, ReferenceFrame> kValues[] = {
      {"WORLD", ReferenceFrame::WORLD},
      {"LOCAL", ReferenceFrame::LOCAL},
      {"LOCAL_WORLD_ALIGNED", ReferenceFrame::LOCAL_WORLD_ALIGNED}};
  for (const auto& [name, code] : kValues) {
    PyObject* value = wrap<ReferenceFrame>(ReferenceFrame(code));
    if (value == nullptr || !set_class_attribute(type, name, value)) {
      Py_XDECREF(value);
      Py_DECREF(type);
      PyClass<ReferenceFrame>::type = nullptr;
      return nullptr;
    }
    Py_DECREF(value);
  }
  return type;
}

}  // namespace kavrel::python
