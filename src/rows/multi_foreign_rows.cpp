// TableBase.__insert_multi_foreign_attr and __delete_multi_foreign_attr: the
// rows of other tables that a row's multi-foreign attributes are made of.
#include "rows/multi_foreign_rows.hpp"

#include "cache/cache_state.hpp"
#include "rows/batched_insert.hpp"
#include "rows/not_stored.hpp"
#include "rows/row_methods.hpp"
#include "statements/cursor.hpp"
#include "statements/statement_texts.hpp"
#include "support/python_names.hpp"

namespace brx {

namespace {

// The CACHE of the multi-foreign attribute's row class; null without an
// exception when there is none (settings or a class without one count as no
// cache).
Ref class_cache(PyObject* settings) {
    Ref row_class, cache;
    if (lookup_attribute(settings, py::_class(), row_class) <= 0 ||
        lookup_attribute(row_class.get(), py::CACHE(), cache) <= 0 || cache.get() == Py_None) {
        PyErr_Clear();
        return {};
    }
    return cache;
}

// The first column of every row of the statement's result.
Ref selected_ids(PyObject* cursor, PyObject* statement) {
    if (!execute_statement(cursor, statement)) return {};
    Ref ids = Ref::steal(PyList_New(0));
    if (!ids) return {};
    const bool read = for_each_row(cursor, [&](PyObject* row) {
        Ref id = Ref::steal(PySequence_GetItem(row, 0));
        return id && PyList_Append(ids.get(), id.get()) == 0 ? RowStep::Next : RowStep::Fail;
    });
    return read ? std::move(ids) : Ref();
}

// Drops the rows `ids` of `table` from `cache`: straight from the module's own
// cache dicts, through Delete for any other kind of cache.
bool forget_cached_rows(PyObject* cache, PyObject* table, PyObject* ids, PyObject* cnx) {
    Ref tables = table_rows_of(cache);
    if (tables && PyDict_Check(tables.get())) {
        PyObject* rows = PyDict_GetItemWithError(tables.get(), table);
        if (!rows) return !PyErr_Occurred();
        Ref held = Ref::borrow(rows);
        return each_item(ids, [&](PyObject* id) { return discard_entry(held.get(), id); });
    }
    PyErr_Clear();
    return each_item(ids, [&](PyObject* id) { return static_cast<bool>(call_method(cache, py::Delete(), {id, table, cnx})); });
}

}  // namespace

bool delete_rows_pointing_at(PyObject* cnx, PyObject* cursor, PyObject* settings, PyObject* id, PyObject* kept) {
    Ref table = get_attr(settings, py::foreign_attr_table());
    if (!table) return false;
    Ref column = get_attr(settings, py::foreign_name());
    if (!column) return false;
    Ref cache = class_cache(settings);
    Ref gone;
    if (cache) {
        Ref query = select_ids_by_column_text(table.get(), column.get(), id, kept);
        if (!query || !(gone = selected_ids(cursor, query.get()))) return false;
    }
    Ref statement = delete_by_column_text(table.get(), column.get(), id, kept);
    if (!statement || !execute_statement(cursor, statement.get())) return false;
    return !cache || forget_cached_rows(cache.get(), table.get(), gone.get(), cnx);
}

// Each multi-foreign row is made to point at this row object and stored on the
// caller's connection: new rows are inserted (batched where they can be),
// stored rows go through their own Insert, which stores only what around them
// is not stored yet.
Ref table_insert_multi_foreign_attr(Bound<sig::table_insert_multi_foreign_attr> args) {
    PyObject* self = args.get<"self">();
    PyObject* cnx = args.get<"cnx">();
    const auto insert_one = [cnx](PyObject* obj) { return static_cast<bool>(call_method(obj, py::Insert(), {cnx})); };
    const bool done = each_loaded_multi_foreign(self, [&](PyObject* settings, PyObject* rows) {
        Ref foreign_name = get_attr(settings, py::foreign_name());
        return foreign_name && store_multi_foreign_rows(self, foreign_name.get(), rows, cnx, insert_one);
    });
    return done ? none() : Ref();
}

// Deletes, for every multi-foreign attribute whether loaded or not, the rows
// pointing at this row. A row not stored yet has none: rows holding its id (0)
// belong to no row and are left alone.
Ref table_delete_multi_foreign_attr(Bound<sig::table_delete_multi_foreign_attr> args) {
    PyObject* self = args.get<"self">();
    Ref cursor = open_cursor(args.get<"cnx">());
    if (!cursor) return {};
    Ref id = Ref::steal(PyObject_GetItem(self, py::id()));
    const int none_stored = id ? has_no_stored_rows(id.get()) : -1;
    if (none_stored) return none_stored > 0 ? none() : Ref();
    const bool done = each_multi_foreign(self, [&](PyObject*, PyObject* settings) {
        return delete_rows_pointing_at(args.get<"cnx">(), cursor.get(), settings, id.get());
    });
    return done ? none() : Ref();
}

}  // namespace brx
