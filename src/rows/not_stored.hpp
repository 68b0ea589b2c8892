// The one rule for whether a row object is in the database: a row whose "id"
// is 0 or less has not been stored yet (Insert gives it the identifier the
// server assigns), so nothing stored points at it and it has no stored rows
// of its own.
#pragma once

#include "support/ref.hpp"

namespace brx {

// 1 when `id` <= 0 by the interpreter's comparison (the row is not stored
// yet), 0 when stored, -1 with an exception set when `id` cannot be compared
// with 0.
int not_stored(PyObject* id);

// For the rows of a row's multi-foreign attributes, found by its "id": 1 when
// it is an int of a row not stored yet, which has none, so no statement is
// needed; 0 for anything else (an id that is no integer is refused by the
// statement text); -1 on error.
inline int has_no_stored_rows(PyObject* id) { return PyLong_Check(id) ? not_stored(id) : 0; }

}  // namespace brx
