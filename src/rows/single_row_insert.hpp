// What one new row's INSERT sends, and what follows once the server has given
// it an identifier: the same whether the row goes through its own Insert or
// shares a multi-row INSERT with others (rows/batched_insert.*).
#pragma once

#include "support/ref.hpp"

namespace brx {

// The values of a new row's INSERT: its own column store, or a copy of it with
// each foreign-key column holding the identifier in `foreign_ids`.
Ref insert_values(PyObject* row, PyObject* foreigns, PyObject* foreign_ids);

// A new row just stored as `id`: the identifier written into the row (put back
// on failure of the call owning `cnx`), and the row registered in its CACHE.
bool note_stored_row(PyObject* row, PyObject* id, PyObject* old_id, PyObject* cnx);

}  // namespace brx
