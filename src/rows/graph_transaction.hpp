// A graph write (an Insert, Update or Delete that reaches more than one row) is
// one transaction. A connection in autocommit mode commits every statement on
// its own, so a failure halfway would leave the first rows stored while the
// identifiers written into their objects are put back, and a retry would store
// them twice. So a call that borrowed its own connection starts a transaction
// on it first, when the connection is in autocommit mode and the write may take
// more than one statement. A single-statement write needs none: autocommit
// makes it atomic already, at one round trip.
#pragma once

#include "support/ref.hpp"

namespace brx {

// Whether a foreign-key column of `foreigns` holds a row object not stored
// yet, and whether the row holds a multi-foreign list (a non-empty one unless
// `even_empty`). Either may leave an exception set; it then answers true.
bool references_new_row(PyObject* row, PyObject* foreigns);
bool holds_rows(PyObject* row, bool even_empty);

// Whether the write may take more than one statement: 1 yes, 0 no. Anything
// that cannot be told (a failing lookup) counts as yes; the write itself then
// reports it.
bool insert_may_write_several(PyObject* row, PyObject* foreigns);
bool update_may_write_several(PyObject* row, PyObject* foreigns, bool rewrite);
bool delete_may_write_several(PyObject* row);

// On `cnx`, borrowed from `pool` (null or None: CNXGuard.POOL), starts a
// transaction when the connection is in autocommit mode and has none open.
bool begin_transaction_if_autocommit(PyObject* cnx, PyObject* pool);

}  // namespace brx
