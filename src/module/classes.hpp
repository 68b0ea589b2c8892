// The six classes and three functions, made from the callable table.
#pragma once

#include "frame/signature.hpp"
#include "support/ref.hpp"

#include <span>

namespace brx {

// The table of every callable, in class-namespace order (callables.cpp).
std::span<const CallableEntry> all_callables();

// Creates the classes by calling `type` and binds them in the module, in order.
bool bind_classes(PyObject* module);
// Creates the module functions and binds them in the module, in order.
bool bind_functions(PyObject* module);

}  // namespace brx
