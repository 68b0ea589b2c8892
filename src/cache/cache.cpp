// Cache: row objects held in memory table by table, read without a query once
// loaded, and kept in step with the deletions made through the cache.
#include "cache/cache_methods.hpp"
#include "cache/cache_state.hpp"
#include "cache/row_class.hpp"
#include "connections/guard_block.hpp"
#include "statements/statement_texts.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// The identifier a row object stands for, or the identifier given itself: an
// integer, or text or a float given for one (refused as an identifier then).
Ref identifier_of(PyObject* obj) {
    if (PyLong_Check(obj) || PyUnicode_Check(obj) || PyBytes_Check(obj) || PyFloat_Check(obj))
        return Ref::borrow(obj);
    return Ref::steal(PyObject_GetItem(obj, py::id()));
}

// The table argument, or the row object's own table when none is given.
Ref table_of(PyObject* obj, PyObject* table) {
    if (table != Py_None) return Ref::borrow(table);
    return get_attr(obj, py::TABLE_NAME());
}

}  // namespace

Ref cache_init(Bound<sig::cache_init> args) {
    PyObject* self = args.get<"self">();
    Ref table_rows = Ref::steal(PyDict_New());
    if (!table_rows || PyObject_SetAttr(self, py::cache_obj_dict(), table_rows.get()) < 0) return {};
    Ref row_classes = Ref::steal(PyDict_New());
    if (!row_classes || PyObject_SetAttr(self, py::cache_class_dict(), row_classes.get()) < 0) return {};
    if (PyObject_SetAttr(self, py::cache_pool(), args.get<"pool">()) < 0) return {};
    return none();
}

Ref cache_get_pool(Bound<sig::cache_get_pool> args) { return pool_or_default(args.get<"pool">(), args.get<"self">(), py::cache_pool()); }

Ref cache_set_pool(Bound<sig::cache_set_pool> args) {
    if (PyObject_SetAttr(args.get<"self">(), py::cache_pool(), args.get<"pool">()) < 0) return {};
    return none();
}

// A hit is two dict lookups and nothing else; a miss fetches the row through
// CNXGuard.Select and keeps it under the identifier as given.
Ref cache_select(Bound<sig::cache_select> args) {
    PyObject* self = args.get<"self">();
    PyObject* id = args.get<"id">();
    PyObject* table = args.get<"table">();
    Ref table_rows = table_rows_of(self);
    if (!table_rows) return {};
    Ref rows = rows_for_table(table_rows.get(), table);
    if (!rows) return {};
    Ref cached;
    const int hit = find_entry(rows.get(), id, cached);
    if (hit) return hit > 0 ? std::move(cached) : Ref();
    // A miss reads the row: the identifier must be an integer from here on.
    if (!require_integer_id(id, "Cache.Select")) return {};

    Ref row_class = resolve_row_class(self, table, args.get<"_class">());
    if (!row_class) return {};
    Ref pool = resolve_pool(self, args.get<"pool">());
    if (!pool) return {};
    Ref obj = call_guard_helper(py::Select(), {id, table, row_class.get(), args.get<"cnx">(), pool.get()});
    if (!obj || !store_entry(rows.get(), id, obj.get())) return {};
    return obj;
}

// Deletes in the database first; only then forgets the cached row, so a
// failed delete leaves the cache as it was.
Ref cache_delete(Bound<sig::cache_delete> args) {
    PyObject* self = args.get<"self">();
    PyObject* obj = args.get<"obj">();
    Ref id = identifier_of(obj);
    if (!id || !require_integer_id(id.get(), "Cache.Delete")) return {};
    Ref table = table_of(obj, args.get<"table">());
    if (!table) return {};
    Ref pool = resolve_pool(self, args.get<"pool">());
    if (!pool) return {};
    if (!call_guard_helper(py::Delete(), {id.get(), table.get(), args.get<"cnx">(), pool.get()})) return {};

    Ref table_rows = table_rows_of(self);
    if (!table_rows) return {};
    Ref rows;
    const int known = find_entry(table_rows.get(), table.get(), rows);
    if (known < 0) return {};
    if (known && !discard_entry(rows.get(), id.get())) return {};
    return none();
}

// Puts an already stored row object in the cache; no query.
Ref cache_insert(Bound<sig::cache_insert> args) {
    PyObject* obj = args.get<"obj">();
    Ref id = Ref::steal(PyObject_GetItem(obj, py::id()));
    if (!id) return {};
    Ref table = table_of(obj, args.get<"table">());
    if (!table) return {};
    Ref table_rows = table_rows_of(args.get<"self">());
    if (!table_rows) return {};
    Ref rows = rows_for_table(table_rows.get(), table.get());
    if (!rows || !store_entry(rows.get(), id.get(), obj)) return {};
    return none();
}

Ref cache_cached_table(Bound<sig::cache_cached_table> args) {
    Ref table_rows = table_rows_of(args.get<"self">());
    if (!table_rows) return {};
    return Ref::steal(PyObject_GetItem(table_rows.get(), args.get<"table">()));
}

// Empties the table in the cache's own database (its pool, else the guard's
// default), then drops whatever rows the cache held for it.
Ref cache_clear_table(Bound<sig::cache_clear_table> args) {
    PyObject* self = args.get<"self">();
    PyObject* table = args.get<"table">();
    // The table is a key of the cache: an unusable key must fail before any
    // row is deleted, not after.
    if (PyObject_Hash(table) == -1) return {};
    Ref pool = resolve_pool(self, Py_None);
    if (!pool) return {};
    if (!call_guard_helper(py::ClearTable(), {table, Py_None, pool.get()})) return {};
    Ref table_rows = table_rows_of(self);
    if (!table_rows || !discard_entry(table_rows.get(), table)) return {};
    return none();
}

Ref cache_tables(Bound<sig::cache_tables> args) {
    Ref row_classes = row_classes_of(args.get<"self">());
    if (!row_classes) return {};
    return call_method(row_classes.get(), py::keys(), {});
}

}  // namespace brx
