// The pool a row object's operations borrow from.
#pragma once

#include "support/calls.hpp"
#include "support/python_names.hpp"
#include "support/ref.hpp"

namespace brx {

// `self._TableBase__get_pool(pool)`
inline Ref row_pool(PyObject* self, PyObject* pool) { return call_method(self, py::row_get_pool(), {pool}); }

}  // namespace brx
