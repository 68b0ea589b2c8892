#include "rows/cache_entry_backup.hpp"

#include "cache/cache_state.hpp"

namespace brx {
namespace {

// Borrowed dict value, or null (lookup errors count as absent here: restoring
// is best effort and must not replace the call's own exception).
PyObject* dict_value(PyObject* dict, PyObject* key) {
    PyObject* value = PyDict_GetItemWithError(dict, key);
    if (!value) PyErr_Clear();
    return value;
}

}  // namespace

bool CacheEntryBackup::take(PyObject* cache, PyObject* table, PyObject* key, PyObject* row, CacheEntryBackup& out) {
    Ref tables = table_rows_of(cache);
    if (!tables || !PyDict_Check(tables.get())) {
        PyErr_Clear();
        return false;
    }
    out.row = Ref::borrow(row);
    out.table = Ref::borrow(table);
    out.key = Ref::borrow(key);
    PyObject* rows = dict_value(tables.get(), table);
    out.table_known = rows != nullptr;
    if (rows && PyDict_Check(rows)) out.previous = Ref::borrow(dict_value(rows, key));
    out.tables = std::move(tables);
    return true;
}

void CacheEntryBackup::restore() const {
    Ref rows = Ref::borrow(dict_value(tables.get(), table.get()));
    if (!rows || !PyDict_Check(rows.get())) return;
    // Something else may have replaced the entry since: leave that alone.
    if (dict_value(rows.get(), key.get()) == row.get()) {
        if (previous)
            PyDict_SetItem(rows.get(), key.get(), previous.get());
        else
            PyDict_DelItem(rows.get(), key.get());
    }
    if (!table_known && PyDict_GET_SIZE(rows.get()) == 0) PyDict_DelItem(tables.get(), table.get());
}

}  // namespace brx
