#include "rows/id_rollback.hpp"

#include "support/calls.hpp"
#include "support/errors.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

#include <algorithm>

namespace brx {
namespace {

// Scopes open in this thread, outermost first. Raw pointers: each scope removes
// itself when its call ends, so the list is empty outside calls.
thread_local std::vector<RollbackScope*> open_scopes;

// Borrowed dict value, or null (lookup errors count as absent here: restoring
// is best effort and must not replace the call's own exception).
PyObject* dict_value(PyObject* dict, PyObject* key) {
    PyObject* value = PyDict_GetItemWithError(dict, key);
    if (!value) PyErr_Clear();
    return value;
}

}  // namespace

RollbackScope::RollbackScope(bool owns_transaction) : open_(owns_transaction) {
    if (open_) open_scopes.push_back(this);
}

RollbackScope::~RollbackScope() {
    if (!open_) return;
    auto found = std::find(open_scopes.rbegin(), open_scopes.rend(), this);
    if (found != open_scopes.rend()) open_scopes.erase(std::next(found).base());
}

void RollbackScope::attach(PyObject* cnx) {
    if (open_) cnx_ = Ref::borrow(cnx);
}

RollbackScope* RollbackScope::owning(PyObject* cnx) {
    for (auto it = open_scopes.rbegin(); it != open_scopes.rend(); ++it)
        if ((*it)->cnx_.get() == cnx) return *it;
    return nullptr;
}

void RollbackScope::record_id(PyObject* row, PyObject* old_id) {
    Change change;
    change.row = Ref::borrow(row);
    change.old_id = Ref::borrow(old_id);
    changes_.push_back(std::move(change));
}

void RollbackScope::record_cache_entry(PyObject* cache, PyObject* table, PyObject* key, PyObject* row) {
    // Only the module's own Cache keeps its rows where they can be put back.
    Ref tables;
    if (lookup_attribute(cache, py::cache_obj_dict(), tables) <= 0 || !PyDict_Check(tables.get())) {
        PyErr_Clear();
        return;
    }
    Change change;
    change.row = Ref::borrow(row);
    change.table = Ref::borrow(table);
    change.key = Ref::borrow(key);
    PyObject* rows = dict_value(tables.get(), table);
    change.table_known = rows != nullptr;
    if (rows && PyDict_Check(rows)) change.previous = Ref::borrow(dict_value(rows, key));
    change.tables = std::move(tables);
    changes_.push_back(std::move(change));
}

void RollbackScope::undo() {
    if (!open_) return;
    StashedError pending;
    std::vector<Change> changes = std::move(changes_);
    changes_.clear();
    for (auto it = changes.rbegin(); it != changes.rend(); ++it) {
        restore(*it);
        PyErr_Clear();
    }
}

void RollbackScope::restore(const Change& change) {
    if (change.tables) {
        restore_cache_entry(change);
        return;
    }
    PyObject_SetItem(change.row.get(), py::id(), change.old_id.get());
}

void RollbackScope::restore_cache_entry(const Change& change) {
    Ref rows = Ref::borrow(dict_value(change.tables.get(), change.table.get()));
    if (!rows || !PyDict_Check(rows.get())) return;
    // Something else may have replaced the entry since: leave that alone.
    if (dict_value(rows.get(), change.key.get()) == change.row.get()) {
        if (change.previous)
            PyDict_SetItem(rows.get(), change.key.get(), change.previous.get());
        else
            PyDict_DelItem(rows.get(), change.key.get());
    }
    if (!change.table_known && PyDict_GET_SIZE(rows.get()) == 0) PyDict_DelItem(change.tables.get(), change.table.get());
}

bool write_row_id(PyObject* row, PyObject* new_id, PyObject* old_id, PyObject* cnx) {
    if (RollbackScope* scope = RollbackScope::owning(cnx)) scope->record_id(row, old_id);
    return PyObject_SetItem(row, py::id(), new_id) == 0;
}

bool register_in_cache(PyObject* cache, PyObject* row, PyObject* table, PyObject* id, PyObject* cnx) {
    if (RollbackScope* scope = RollbackScope::owning(cnx)) scope->record_cache_entry(cache, table, id, row);
    return static_cast<bool>(call_method(cache, py::Insert(), {row, table, cnx}));
}

}  // namespace brx
