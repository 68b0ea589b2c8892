// The one set-up module object and lookups of its global names.
#pragma once

#include "support/ref.hpp"

namespace brx {

// The namespace dict of the set-up module (borrowed), or null before exec.
PyObject* module_namespace();
void set_module(PyObject* module);  // null forgets it
PyObject* current_module();         // borrowed, or null

// A module global, falling back to the built-ins, looked up at each use so that
// rebinding a module attribute changes what later calls use. NameError
// "name '%U' is not defined" when neither has it.
Ref global(PyObject* name);

}  // namespace brx
