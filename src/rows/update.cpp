// TableBase.Update: writes every column but "id" back with one UPDATE, foreign
// keys as their referenced rows' identifiers, and by default rewrites the rows
// of the multi-foreign attributes the row holds (deleted and inserted anew).
// Attributes never loaded on this row object are left alone in the database:
// deleting their rows would lose them, as nothing here could write them back.
#include "rows/bodies.hpp"

#include "connections/guard_block.hpp"
#include "rows/id_rollback.hpp"
#include "rows/multi_foreign_rows.hpp"
#include "statements/compose.hpp"
#include "statements/cursor.hpp"

#include <utility>
#include <vector>

namespace brx {
namespace {

Ref value_for_update(PyObject* self, PyObject* column) {
    return call_method(self, "_TableBase__column_value_for_update"_id, {column});
}

// ", `col` = %s" for each column from the third on, and their values.
bool further_assignments(PyObject* self, PyObject* names, Ref& content, Ref& values) {
    Ref further = Ref::steal(PySequence_GetSlice(names, 2, PY_SSIZE_T_MAX));
    if (!further) return false;
    Ref pieces = Ref::steal(PyList_New(0));
    values = Ref::steal(PyList_New(0));
    if (!pieces || !values) return false;
    const bool done = each_item(further.get(), [&](PyObject* column) {
        Ref quoted = quoted_name(column);
        if (!quoted) return false;
        Ref piece = compose(", `%s` = %%s"_id, {quoted.get()});
        if (!piece || PyList_Append(pieces.get(), piece.get()) < 0) return false;
        Ref value = value_for_update(self, column);
        return value && PyList_Append(values.get(), value.get()) == 0;
    });
    if (!done) return false;
    content = Ref::steal(PyUnicode_Join(""_id, pieces.get()));
    return static_cast<bool>(content);
}

// The UPDATE text and its parameters, built before any connection is borrowed.
bool compose_update(PyObject* self, Ref& statement, Ref& values) {
    Ref names = get_attr(self, "COLUMN_NAMES"_id);
    if (!names) return false;
    Ref content;
    if (!further_assignments(self, names.get(), content, values)) return false;
    Ref second = Ref::steal(PySequence_GetItem(names.get(), 1));
    if (!second) return false;
    Ref second_value = value_for_update(self, second.get());
    if (!second_value || PyList_Insert(values.get(), 0, second_value.get()) < 0) return false;

    Ref table = get_attr(self, "TABLE_NAME"_id);
    if (!table) return false;
    Ref quoted_table = quoted_name(table.get());
    if (!quoted_table) return false;
    Ref quoted_second = quoted_name(second.get());
    if (!quoted_second) return false;
    Ref id = Ref::steal(PyObject_GetItem(self, "id"_id));
    if (!id) return false;
    statement = compose("UPDATE `%s` SET `%s` = %%s%s WHERE id = %d"_id,
                        {quoted_table.get(), quoted_second.get(), content.get(), id.get()});
    return static_cast<bool>(statement);
}

// Deletes the rows of each held multi-foreign attribute, marks the held row
// objects new, and inserts them again pointing at this row.
bool rewrite_held_multi_foreign(PyObject* self, PyObject* cnx) {
    Ref id = Ref::steal(PyObject_GetItem(self, "id"_id));
    if (!id) return false;
    std::vector<Ref> held_lists;
    Ref cursor;
    const bool deleted = each_held_multi_foreign(self, [&](PyObject* foreign_attr, PyObject* held) {
        if (!cursor && !(cursor = open_cursor(cnx))) return false;
        held_lists.push_back(Ref::borrow(held));
        return delete_rows_pointing_at(cursor.get(), foreign_attr, id.get());
    });
    if (!deleted) return false;
    for (const Ref& held : held_lists) {
        if (!each_item(held.get(), [&](PyObject* obj) { return clear_row_id(obj, cnx); })) return false;
    }
    return static_cast<bool>(call_method(self, "_TableBase__insert_multi_foreign_attr"_id, {cnx}));
}

}  // namespace

Ref table_column_value_for_update(const Args& args) {
    PyObject* self = args[0];
    PyObject* column = args[1];
    Ref value = Ref::steal(PyObject_GetItem(self, column));
    if (!value) return {};
    Ref is_foreign_key = call_method(self, "_TableBase__is_foreign_key"_id, {column});
    if (!is_foreign_key) return {};
    const int foreign = truth(is_foreign_key.get());
    if (foreign < 0) return {};
    if (!foreign) return value;
    return Ref::steal(PyObject_GetItem(value.get(), "id"_id));
}

Ref table_update(const Args& args) {
    PyObject* self = args[0];
    PyObject* update_multi_foreign = args[1];
    Ref statement, values;
    if (!compose_update(self, statement, values)) return {};
    Ref pool = call_method(self, "_TableBase__get_pool"_id, {args[3]});
    if (!pool) return {};

    PyObject* cnx = args[2];
    RollbackScope rollback(cnx == Py_None);
    Ref done = with_guard(cnx, pool.get(), [&](PyObject* block_cnx) -> Ref {
        rollback.attach(block_cnx);
        Ref cursor = open_cursor(block_cnx);
        if (!cursor || !execute_statement(cursor.get(), statement.get(), values.get())) return {};
        const int rewrite = truth(update_multi_foreign);
        if (rewrite < 0 || (rewrite && !rewrite_held_multi_foreign(self, block_cnx))) return {};
        return none();
    });
    if (!done) rollback.undo();
    return done;
}

}  // namespace brx
