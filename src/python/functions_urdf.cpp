// URDF import, as Python calls it.
#include "python/functions.hpp"

namespace kavrel::python {

Result<Model> parse_urdf_file(std::string) { return runtime_error("not built yet"); }
Result<Model> parse_urdf_from_string(std::string) { return runtime_error("not built yet"); }

}  // namespace kavrel::python
