// Creation of the Python classes, in the order the module adds them.
#pragma once

#include "python/python.hpp"

namespace kavrel::python {

PyTypeObject* create_se3_class();
PyTypeObject* create_model_class();
PyTypeObject* create_data_class();
PyTypeObject* create_reference_frame_class();
PyTypeObject* create_batch_class();

}  // namespace kavrel::python
