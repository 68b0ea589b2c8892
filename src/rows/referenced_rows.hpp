// The rows a row object's foreign keys point at, made ready to be written
// against: identifiers resolved on the block's connection, rows not stored yet
// inserted first, in the same transaction.
#pragma once

#include "rows/not_stored.hpp"
#include "support/ref.hpp"

namespace brx {

// The identifier foreign-key column `column` of `row` is to be written with:
// a stored identifier is resolved on `cnx` first, a referenced row not stored
// yet is inserted first (its own Insert, given `cnx` and `pool`), and a column
// holding None is a NULL key, written as None.
Ref referenced_identifier(PyObject* row, PyObject* column, PyObject* cnx, PyObject* pool);

// The "id" of the row object `target` that foreign-key column `column` of
// `row` holds (item read of "id"). A str or bytes there raises TypeError
// naming the column, where indexing it would only say "string indices must be
// integers".
Ref held_row_id(PyObject* row, PyObject* column, PyObject* target);

// referenced_identifier() of each column of `foreigns`, in order, as a dict
// column -> identifier.
Ref store_referenced_rows(PyObject* row, PyObject* foreigns, PyObject* cnx, PyObject* pool);

// The same dict in `foreign_ids` when every key points at a stored row (or is
// NULL), without storing anything: 1; 0 as soon as a key points at a row not
// stored yet; -1 with an exception set.
int stored_referenced_ids(PyObject* row, PyObject* foreigns, PyObject* cnx, Ref& foreign_ids);

}  // namespace brx
