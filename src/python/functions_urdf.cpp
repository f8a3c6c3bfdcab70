// URDF import, as Python calls it.
#include "python/functions.hpp"
#include "urdf_parser/model_builder.hpp"

namespace kavrel::python {

namespace {


Result<Model> with_prefix(Result<Model> result) {
  if (!result) return runtime_error("Failed to parse URDF: " + result.error().message);
  return result;
}

}  // namespace

// Other Python threads run while the import reads and parses: it touches no
// Python object, and a file may be a pipe that takes its time.
Result<Model> parse_urdf_file(std::string filename) {
  return with_prefix([&] {
    WithoutInterpreterLock unlocked;
    return urdf::parse_urdf_file(filename);
  }());
}

Result<Model> parse_urdf_from_string(std::string urdf_string) {
  return with_prefix([&] {
    WithoutInterpreterLock unlocked;
    return urdf::parse_urdf_from_string(urdf_string);
  }());
}

}  // namespace kavrel::python
