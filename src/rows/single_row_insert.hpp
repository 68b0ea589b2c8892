// What one new row's INSERT sends, and what follows once the server has given
// it an identifier: the same whether the row goes through its own Insert or
// shares a multi-row INSERT with others (rows/batched_insert.*).
#pragma once

#include "support/ref.hpp"

namespace brx {

// The values of a new row's INSERT: its own column store, or a copy of it with
// each foreign-key column holding the identifier in `foreign_ids`.
Ref insert_values(PyObject* row, PyObject* foreigns, PyObject* foreign_ids);

// The identifier a new row holds once its INSERT, which sent `sent` as its
// id, returned `returned` (the cursor's lastrowid). The connector reads the
// server's insert id as an unsigned 64-bit number: a negative id, sent and
// stored as it is, comes back as itself plus 2**64; it is taken back to the
// value the column holds. Anything else is returned as it is.
Ref id_as_stored(Ref returned, PyObject* sent);

// A new row just stored as `id`: the identifier written into the row (put back
// on failure of the call owning `cnx`), and the row registered in its CACHE.
bool note_stored_row(PyObject* row, PyObject* id, PyObject* old_id, PyObject* cnx);

}  // namespace brx
