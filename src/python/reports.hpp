// Plain-text reports of a model and a workspace, for people at a console.
#pragma once

#include <string>
#include <string_view>

#include "data/data.hpp"

namespace kavrel::python {

std::string model_report(const Model& model);
std::string data_report(const Data& data);

// Writes to file descriptor 1 through a buffer of our own, flushed before
// returning, so the text never passes through the interpreter's sys.stdout.
void write_to_stdout(std::string_view text);

}  // namespace kavrel::python
