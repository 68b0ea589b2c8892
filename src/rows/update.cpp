// TableBase.Update: writes every column but "id" back with one UPDATE, foreign
// keys as their referenced rows' identifiers (a NULL key as NULL, a referenced
// row not stored yet inserted first), and by default makes the database hold
// exactly the rows of the multi-foreign lists the row holds, each under its own
// identifier: stored rows are written back in place, new rows are inserted and
// the rows no longer held are deleted. Renumbering them instead would break
// whatever points at them. Lists never loaded on this row object are left alone
// in the database: nothing here could write their rows back.
#include "rows/batched_insert.hpp"
#include "rows/foreign_flag.hpp"
#include "rows/graph_transaction.hpp"
#include "rows/multi_foreign_rows.hpp"
#include "rows/referenced_rows.hpp"
#include "rows/row_methods.hpp"
#include "rows/row_pool.hpp"
#include "statements/cursor.hpp"
#include "statements/quoted_name.hpp"
#include "statements/statement_texts.hpp"
#include "support/calls.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// What can be settled before a connection is borrowed: the statement text, and
// that the row is stored at all.
struct UpdateStatement {
    Ref further;  // COLUMN_NAMES[2:]
    Ref second;   // COLUMN_NAMES[1]
    Ref text;
};

bool refuse_unstored(PyObject* self, PyObject* id) {
    const int is_new = not_stored(id);
    if (is_new <= 0) return is_new == 0;
    // Its UPDATE would touch nothing, and its multi-foreign rows would point at
    // no row.
    Ref table = get_attr(self, py::TABLE_NAME());
    if (table)
        PyErr_Format(PyExc_ValueError, "cannot Update a row of table %S that is not stored yet (id = %R): Insert it first",
                     table.get(), id);
    return false;
}

// ", `col` = %s" for each column from the third on.
Ref further_assignments(PyObject* further) {
    Ref pieces = Ref::steal(PyList_New(0));
    if (!pieces) return {};
    const bool done = each_item(further, [&](PyObject* column) {
        Ref quoted = quoted_name(column);
        Ref piece = quoted ? format(", `%s` = %%s"_id, {quoted.get()}) : Ref();
        return piece && PyList_Append(pieces.get(), piece.get()) == 0;
    });
    return done ? Ref::steal(PyUnicode_Join(""_id, pieces.get())) : Ref();
}

bool compose_update(PyObject* self, UpdateStatement& out) {
    Ref names = get_attr(self, py::COLUMN_NAMES());
    if (!names) return false;
    out.further = Ref::steal(PySequence_GetSlice(names.get(), 2, PY_SSIZE_T_MAX));
    if (!out.further) return false;
    Ref content = further_assignments(out.further.get());
    if (!content) return false;
    out.second = Ref::steal(PySequence_GetItem(names.get(), 1));
    if (!out.second) return false;
    Ref table = get_attr(self, py::TABLE_NAME());
    Ref quoted_table = table ? quoted_name(table.get()) : Ref();
    Ref quoted_second = quoted_table ? quoted_name(out.second.get()) : Ref();
    Ref id = quoted_second ? Ref::steal(PyObject_GetItem(self, py::id())) : Ref();
    if (!id || !require_integer_id(id.get(), "TableBase.Update")) return false;
    out.text = format("UPDATE `%s` SET `%s` = %%s%s WHERE id = %d"_id,
                       {quoted_table.get(), quoted_second.get(), content.get(), id.get()});
    return out.text && refuse_unstored(self, id.get());
}

// The value `column` is written with; a foreign key's referenced row is made
// ready first (resolved on this connection, inserted when new).
Ref value_for_update(PyObject* self, PyObject* column, PyObject* cnx, PyObject* pool) {
    const int foreign = is_foreign_key(RowView(self), column);
    if (foreign < 0) return {};
    if (foreign && !referenced_identifier(self, column, cnx, pool)) return {};
    return call_method(self, py::row_column_value_for_update(), {column});
}

// The parameters in statement order: the second column's value first, though
// it is computed after the others.
Ref update_values(PyObject* self, const UpdateStatement& statement, PyObject* cnx, PyObject* pool) {
    Ref values = Ref::steal(PyList_New(0));
    if (!values) return {};
    const bool done = each_item(statement.further.get(), [&](PyObject* column) {
        Ref value = value_for_update(self, column, cnx, pool);
        return value && PyList_Append(values.get(), value.get()) == 0;
    });
    if (!done) return {};
    Ref second = value_for_update(self, statement.second.get(), cnx, pool);
    if (!second || PyList_Insert(values.get(), 0, second.get()) < 0) return {};
    return values;
}

// The identifiers of the multi-foreign rows that are stored already.
Ref stored_identifiers(PyObject* rows) {
    Ref ids = Ref::steal(PyList_New(0));
    if (!ids) return {};
    const bool done = each_item(rows, [&](PyObject* obj) {
        Ref id = Ref::steal(PyObject_GetItem(obj, py::id()));
        const int is_new = id ? not_stored(id.get()) : -1;
        if (is_new < 0) return false;
        return is_new || PyList_Append(ids.get(), id.get()) == 0;
    });
    return done ? std::move(ids) : Ref();
}

// A multi-foreign row, already made to point at its owner: a stored one is
// written back in place and stores what around it is new, a new one is
// inserted.
bool write_multi_foreign_row(PyObject* obj, PyObject* cnx) {
    Ref id = Ref::steal(PyObject_GetItem(obj, py::id()));
    const int is_new = id ? not_stored(id.get()) : -1;
    if (is_new < 0) return false;
    if (is_new) return static_cast<bool>(call_method(obj, py::Insert(), {cnx}));
    return call_method(obj, py::Update(), {Py_False, cnx}) &&
           call_method(obj, py::row_insert_multi_foreign_attr(), {cnx});
}

// The rows of one multi-foreign attribute, in the database as the row holds
// them.
bool sync_multi_foreign(PyObject* self, PyObject* id, PyObject* settings, PyObject* rows, PyObject* cnx,
                        Ref& cursor) {
    // One snapshot: the list is walked twice and may be changed by the writes.
    Ref listed = Ref::steal(PySequence_List(rows));
    if (!listed) return false;
    Ref kept = stored_identifiers(listed.get());
    if (!kept) return false;
    if (!cursor && !(cursor = open_cursor(cnx))) return false;
    if (!delete_rows_pointing_at(cnx, cursor.get(), settings, id, kept.get())) return false;
    Ref foreign_name = get_attr(settings, py::foreign_name());
    if (!foreign_name) return false;
    return store_multi_foreign_rows(self, foreign_name.get(), listed.get(), cnx,
                                    [cnx](PyObject* obj) { return write_multi_foreign_row(obj, cnx); });
}

bool sync_every_multi_foreign(PyObject* self, PyObject* cnx) {
    Ref id = Ref::steal(PyObject_GetItem(self, py::id()));
    if (!id) return false;
    Ref cursor;
    return each_loaded_multi_foreign(self, [&](PyObject* settings, PyObject* rows) {
        return sync_multi_foreign(self, id.get(), settings, rows, cnx, cursor);
    });
}

// Whether the update writes more than its own row: 1, 0 or -1.
int writes_several(PyObject* self, bool rewrite) {
    Ref foreigns = call_method(self, py::row_get_foreigns(), {});
    if (!foreigns) return -1;
    return update_may_write_several(self, foreigns.get(), rewrite);
}

}  // namespace

Ref table_column_value_for_update(Bound<sig::table_column_value_for_update> args) {
    PyObject* self = args.get<"self">();
    PyObject* column = args.get<"column_name">();
    Ref value = Ref::steal(PyObject_GetItem(self, column));
    if (!value) return {};
    const int foreign = is_foreign_key(RowView(self), column);
    if (foreign < 0) return {};
    // A foreign key holding None is a NULL in the database.
    if (!foreign || value.get() == Py_None) return value;
    return Ref::steal(PyObject_GetItem(value.get(), py::id()));
}

Ref table_update(Bound<sig::table_update> args) {
    PyObject* self = args.get<"self">();
    PyObject* update_multi_foreign = args.get<"update_multi_foreign">();
    UpdateStatement statement;
    if (!compose_update(self, statement)) return {};
    Ref pool = row_pool(self, args.get<"pool">());
    if (!pool) return {};

    const int rewrite = truth(update_multi_foreign);
    if (rewrite < 0) return {};
    return graph_write(
        args.get<"cnx">(), pool.get(), OnCallersConnection::CallerDecides,
        [&] { return writes_several(self, rewrite != 0); },
        [&](PyObject* cnx) -> Ref {
            Ref values = update_values(self, statement, cnx, pool.get());
            if (!values) return {};
            Ref cursor = open_cursor(cnx);
            if (!cursor || !execute_statement(cursor.get(), statement.text.get(), values.get())) return {};
            if (rewrite && !sync_every_multi_foreign(self, cnx)) return {};
            return none();
        });
}

}  // namespace brx
