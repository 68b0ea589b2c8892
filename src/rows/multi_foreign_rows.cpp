// TableBase.__insert_multi_foreign_attr and __delete_multi_foreign_attr: the
// rows of other tables that a row's multi-foreign attributes are made of.
#include "rows/multi_foreign_rows.hpp"

#include "rows/bodies.hpp"
#include "statements/cursor.hpp"
#include "statements/statement_texts.hpp"

namespace brx {

bool delete_rows_pointing_at(PyObject* cursor, PyObject* foreign_attr, PyObject* id) {
    Ref table = get_attr(foreign_attr, "foreign_attr_table"_id);
    if (!table) return false;
    Ref column = get_attr(foreign_attr, "foreign_name"_id);
    if (!column) return false;
    Ref statement = delete_by_column_text(table.get(), column.get(), id);
    return statement && execute_statement(cursor, statement.get());
}

// Each held row is made to point at this row object and goes through its own
// Insert on the caller's connection: new rows are inserted, stored rows store
// only what around them is not stored yet.
Ref table_insert_multi_foreign_attr(const Args& args) {
    PyObject* self = args[0];
    PyObject* cnx = args[1];
    const bool done = each_held_multi_foreign(self, [&](PyObject* foreign_attr, PyObject* held) {
        Ref foreign_name = get_attr(foreign_attr, "foreign_name"_id);
        if (!foreign_name) return false;
        return each_item(held, [&](PyObject* obj) {
            return PyObject_SetItem(obj, foreign_name.get(), self) == 0 &&
                   static_cast<bool>(call_method(obj, "Insert"_id, {cnx}));
        });
    });
    return done ? none() : Ref();
}

// Deletes, for every entry whether loaded or not, the rows pointing at this row.
Ref table_delete_multi_foreign_attr(const Args& args) {
    PyObject* self = args[0];
    Ref cursor = open_cursor(args[1]);
    if (!cursor) return {};
    Ref id = Ref::steal(PyObject_GetItem(self, "id"_id));
    if (!id) return {};
    const bool done = each_multi_foreign(self, [&](PyObject*, PyObject* foreign_attr) {
        return delete_rows_pointing_at(cursor.get(), foreign_attr, id.get());
    });
    return done ? none() : Ref();
}

}  // namespace brx
