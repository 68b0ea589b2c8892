// Which row-object class builds the rows of a table: the one given for this
// call, else the one registered for the table. The first class given for a
// table is registered and never replaced.
#pragma once

#include "support/ref.hpp"

namespace brx {

// The class to use, or null with ValueError when none is given or registered.
Ref resolve_row_class(PyObject* self, PyObject* table, PyObject* given);

}  // namespace brx
