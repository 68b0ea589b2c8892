#include "rows/foreign_lookup.hpp"

#include "connections/guard_block.hpp"
#include "rows/item_meaning.hpp"
#include "rows/row_access.hpp"
#include "rows/row_pool.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {

bool foreign_target(PyObject* self, PyObject* name, Ref& table, Ref& row_class) {
    Ref attributes = get_attr(self, py::COLUMN_ATTRIBUTES());
    if (!attributes) return false;
    Ref settings = Ref::steal(PyObject_GetItem(attributes.get(), name));
    if (!settings) return false;
    table = get_attr(settings.get(), py::foreignTableName());
    if (!table) return false;
    row_class = get_attr(settings.get(), py::foreignClass());
    return static_cast<bool>(row_class);
}

ForeignRead foreign_read(PyObject* row, PyObject* column, Ref& id, Ref& cache) {
    switch (item_meaning(row, column, id)) {
        case ItemMeaning::Failed: return ForeignRead::Failed;
        case ItemMeaning::ForeignKey: break;
        default: return ForeignRead::AsStored;
    }
    cache = get_attr(row, py::CACHE());
    if (!cache) return ForeignRead::Failed;
    return cache.get() == Py_None ? ForeignRead::Database : ForeignRead::Cache;
}

Ref resolve_foreign(PyObject* row, PyObject* column, PyObject* id, PyObject* cache, PyObject* cnx) {
    Ref table, row_class;
    if (!foreign_target(row, column, table, row_class)) return {};
    Ref value;
    if (cache != Py_None) {
        value = call_method(cache, py::Select(), {id, table.get(), row_class.get()});
    } else if (cnx) {
        value = call_guard_helper(py::Select(), {id, table.get(), row_class.get(), cnx});
    } else {
        // The row's own pool, so a class bound to another database reads its
        // referenced rows from that database.
        Ref select = guard_class_attr(py::Select());
        Ref pool = select ? row_pool(row, Py_None) : Ref();
        if (!pool) return {};
        value = call(select.get(), {id, table.get(), row_class.get(), Py_None, pool.get()});
    }
    if (!value) return {};
    // The lookup ran Python code and may have reached the server: store into
    // the column store the row holds now.
    Ref store = column_store(row);
    if (!store || PyObject_SetItem(store.get(), column, value.get()) < 0) return {};
    return value;
}

bool resolve_foreign_on(PyObject* row, PyObject* column, PyObject* cnx) {
    Ref id, cache;
    const ForeignRead read = foreign_read(row, column, id, cache);
    if (read != ForeignRead::Database) return read != ForeignRead::Failed;
    return static_cast<bool>(resolve_foreign(row, column, id.get(), cache.get(), cnx));
}

}  // namespace brx
