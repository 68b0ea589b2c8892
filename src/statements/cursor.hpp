// The one way the module uses connector cursors: open on the block's
// connection, execute, read rows as tuples (in batches from the connector's
// own cursors), and read every result to its end so that no unread result is
// left on the connection (the connector refuses the next statement and the
// commit otherwise). An interrupt is the
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

// The connector's own cursors are read in batches of this many rows: row by
// row, each row costs a call of its Python fetchone() (about 18,000
// instructions a row in the C extension, 40% more than fetchmany()). A batch
// bounds what is held at once, as for the cache's load of a whole table.
inline constexpr Py_ssize_t kRowsPerBatch = 1000;

// cursor.fetchmany(kRowsPerBatch) when `cursor` is one of the connector's own
// (connector_cursor.hpp), as a list; null with nothing set for any other
// cursor, which is iterated instead; null with an exception set on failure.
Ref fetch_batch(PyObject* cursor, bool& batched);

// Calls on_row(row) for each row (borrowed) until the rows end or on_row
// returns Stop; the rows left are then drained. When on_row fails, the rest is
// drained too and the failure is reported; after an interrupt nothing more is
// read (see interrupt_pending): the guard closes such a connection instead of
// using it again. Returns false with an exception set.
//
// Batches are read until an empty one, as iteration reads until the end: the
// connector reports the result's end (and raises its warnings, when asked to)
// only then.
template <class OnRow>
bool for_each_row(PyObject* cursor, OnRow&& on_row) {
    bool ended = true;  // the result of the whole read, once `on_row` has ended it
    const auto go_on = [&](PyObject* row) {
        switch (on_row(row)) {
            case RowStep::Next: return true;
            case RowStep::Stop: ended = drain_rows(cursor); return false;
            case RowStep::Fail:
                if (!interrupt_pending()) {
                    StashedError failure;
                    drain_rows(cursor);
                }
                ended = false;
                return false;
        }
        return true;
    };
    bool batched = false;
    for (Ref batch = fetch_batch(cursor, batched); batched; batch = fetch_batch(cursor, batched)) {
        if (!batch) return false;
        if (PyList_GET_SIZE(batch.get()) == 0) return true;
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(batch.get()); ++i) {
            Ref row = Ref::borrow(PyList_GET_ITEM(batch.get(), i));
            if (!go_on(row.get())) return ended;
        }
    }
    Ref iterator = Ref::steal(PyObject_GetIter(cursor));
    if (!iterator) return false;
    while (Ref row = Ref::steal(PyIter_Next(iterator.get())))
        if (!go_on(row.get())) return ended;
    return !PyErr_Occurred();
}

}  // namespace brx
