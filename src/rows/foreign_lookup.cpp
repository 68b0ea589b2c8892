#include "rows/foreign_lookup.hpp"

#include "module/module_state.hpp"
#include "rows/row_access.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {

// Follows item read's own order: an attribute of that name wins, then the
// column, then its foreign-key flag, then the cache.
ForeignRead foreign_read(PyObject* row, PyObject* column, PyObject* store, Ref& id, Ref& cache) {
    if (!PyUnicode_Check(column)) return ForeignRead::AsStored;  // item read reports it
    id = Ref::steal(PyObject_GetItem(store, column));
    if (!id) {
        PyErr_Clear();  // item read reports a column missing from the store
        return ForeignRead::AsStored;
    }
    if (!PyLong_Check(id.get())) return ForeignRead::AsStored;
    Ref attribute;
    const int shadowed = lookup_attribute(row, column, attribute);
    if (shadowed != 0) return shadowed < 0 ? ForeignRead::Failed : ForeignRead::AsStored;
    Ref column_names = get_attr(row, py::COLUMN_NAMES());
    if (!column_names) return ForeignRead::Failed;
    const int is_column = contains_name(column_names.get(), column);
    if (is_column <= 0) return is_column < 0 ? ForeignRead::Failed : ForeignRead::AsStored;
    Ref foreign = call_method(row, py::row_is_foreign_key(), {column});
    const int is_foreign = foreign ? truth(foreign.get()) : -1;
    if (is_foreign <= 0) return is_foreign < 0 ? ForeignRead::Failed : ForeignRead::AsStored;
    cache = get_attr(row, py::CACHE());
    if (!cache) return ForeignRead::Failed;
    return cache.get() == Py_None ? ForeignRead::Database : ForeignRead::Cache;
}

bool resolve_foreign_on(PyObject* row, PyObject* column, PyObject* cnx) {
    Ref store = column_store(row);
    if (!store) return false;
    Ref id, cache;
    const ForeignRead read = foreign_read(row, column, store.get(), id, cache);
    if (read != ForeignRead::Database) return read != ForeignRead::Failed;
    Ref table, row_class;
    if (!foreign_target(row, column, table, row_class)) return false;
    Ref guard_class = global(py::CNXGuard());
    if (!guard_class) return false;
    Ref target = call_method(guard_class.get(), py::Select(), {id.get(), table.get(), row_class.get(), cnx});
    return target && PyObject_SetItem(store.get(), column, target.get()) == 0;
}

}  // namespace brx
