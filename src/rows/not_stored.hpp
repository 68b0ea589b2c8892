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

// Whether a new row's "id", sent as the value of its id column, lets the
// server assign the identifier: only an int of exactly 0 does. Any other id
// of a row not stored yet (a negative one, a bool) is stored as it is, so
// such a row cannot share a multi-row INSERT whose ids are read back as the
// rows': it goes alone, through its own Insert. 1 or 0; never fails.
bool server_assigns_id(PyObject* id);

}  // namespace brx
