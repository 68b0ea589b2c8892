// A graph write (an Insert, Update or Delete that reaches more than one row) is
// one transaction. A connection in autocommit mode commits every statement on
// its own, so a failure halfway would leave the first rows stored while the
// identifiers written into their objects are put back, and a retry would store
// them twice. So a call that borrowed its own connection starts a transaction
// on it first, when the connection is in autocommit mode and the write may take
// more than one statement. A single-statement write needs none: autocommit
// makes it atomic already, at one round trip.
#pragma once

#include "connections/guard_block.hpp"
#include "rows/id_rollback.hpp"
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

// Who puts back what a graph write changed in row objects after a failure on
// the caller's connection: the caller, whose transaction it is (Insert,
// Update), or the write itself, which then takes back its own part of that
// transaction (InsertMany).
enum class OnCallersConnection { CallerDecides, WriteUndoesItsPart };

// A graph write: `work(cnx)` in one guarded block, on `cnx` or, when that is
// None, on a connection borrowed from `pool`, which is then the write's own
// transaction, begun first (begin_transaction_if_autocommit) when
// `may_write_several()` says so: 1 yes, 0 no, -1 failed. The ids and cache
// entries the write changes are recorded (rows/id_rollback.hpp) and put back
// after a failure, unless the commit succeeded and only giving the connection
// back failed. Given the caller's connection with WriteUndoesItsPart, they
// are put back after a failure too, and after success handed to the call
// further out on that connection, whose failure then puts them back.
template <class MayWriteSeveral, class Work>
Ref graph_write(PyObject* cnx, PyObject* pool, OnCallersConnection callers, MayWriteSeveral&& may_write_several,
                Work&& work) {
    const bool borrows = cnx == Py_None;
    RollbackScope rollback(borrows || callers == OnCallersConnection::WriteUndoesItsPart);
    bool committed = false;
    Ref result = with_guard(cnx, pool, [&](PyObject* block_cnx) -> Ref {
        rollback.attach(block_cnx);
        if (borrows) {
            const int several = may_write_several();
            if (several < 0 || (several && !begin_transaction_if_autocommit(block_cnx, pool))) return {};
        }
        return work(block_cnx);
    }, &committed);
    if (result && !borrows)
        rollback.hand_over();
    else if (!result && !committed)
        rollback.undo();  // committed rows keep their ids even when giving the connection back failed
    return result;
}

}  // namespace brx
