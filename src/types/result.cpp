#include "types/result.hpp"

namespace kavrel {

void fail_internal(const std::string& message) { throw InternalFailure(message); }

}  // namespace kavrel
