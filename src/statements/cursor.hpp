// The one way the module uses connector cursors: open on the block's
// connection, execute, iterate rows as tuples, and read every result to its
// end so that no unread result is left on the connection (the connector
// refuses the next statement and the commit otherwise). An interrupt is the
// exception: the rest of a result may take seconds to read, so it is left
// unread and the connection closed.
#pragma once

#include "support/errors.hpp"
#include "support/ref.hpp"

namespace brx {

// A new cursor of the connection's default kind (cnx.cursor(), without the
// connector's ping: see connector_cursor.hpp).
Ref open_cursor(PyObject* cnx);
// cursor.execute(statement) or cursor.execute(statement, params).
bool execute_statement(PyObject* cursor, PyObject* statement, PyObject* params = nullptr);
// Reads and discards whatever rows remain.
bool drain_rows(PyObject* cursor);
// cursor.fetchall(): the rest of the result at once, as a list. For short
// results (the ids of an INSERT ... RETURNING), where iterating would cost a
// call per row.
Ref fetch_all_rows(PyObject* cursor);
// cursor.lastrowid
Ref last_row_id(PyObject* cursor);
// A statement of several parts ("a; b") leaves one result per part, and the
// connector refuses the next statement until all are read. Reads and discards
// every result after the current one, whose rows must be read already. A part
// the server refused raises here. Cursors without nextset() have no others.
bool skip_further_results(PyObject* cursor);
// drain_rows() and skip_further_results(): nothing of the statement is left.
inline bool drain_results(PyObject* cursor) { return drain_rows(cursor) && skip_further_results(cursor); }

enum class RowStep { Next, Stop, Fail };

// Calls on_row(row) for each row (borrowed) until the rows end or on_row
// returns Stop; the rows left are then drained. When on_row fails, the rest is
// drained too and the failure is reported; after an interrupt nothing more is
// read (see interrupt_pending): the guard closes such a connection instead of
// using it again. Returns false with an exception set.
template <class OnRow>
bool for_each_row(PyObject* cursor, OnRow&& on_row) {
    Ref iterator = Ref::steal(PyObject_GetIter(cursor));
    if (!iterator) return false;
    while (Ref row = Ref::steal(PyIter_Next(iterator.get()))) {
        switch (on_row(row.get())) {
            case RowStep::Next: continue;
            case RowStep::Stop: return drain_rows(cursor);
            case RowStep::Fail: {
                if (interrupt_pending()) return false;
                StashedError failure;
                drain_rows(cursor);
                return false;
            }
        }
    }
    return !PyErr_Occurred();
}

}  // namespace brx
