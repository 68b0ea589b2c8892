// The six classes and three functions, made from the callable table.
#pragma once

#include "support/ref.hpp"

namespace brx {

// Creates the classes by calling `type` and binds them in the module, in order.
bool bind_classes(PyObject* module);
// Creates the module functions and binds them in the module, in order.
bool bind_functions(PyObject* module);

}  // namespace brx
