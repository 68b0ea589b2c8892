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
    changes_.push_back(IdChange{Ref::borrow(row), Ref::borrow(old_id)});
}

void RollbackScope::record_cache_entry(CacheEntryBackup backup) { changes_.push_back(std::move(backup)); }

void RollbackScope::undo() {
    if (!open_) return;
    StashedError pending;
    std::vector<Change> changes = std::move(changes_);
    changes_.clear();
    for (auto it = changes.rbegin(); it != changes.rend(); ++it) {
        std::visit([](const auto& change) { change.restore(); }, *it);
        PyErr_Clear();
    }
}

void RollbackScope::hand_over() {
    if (!open_) return;
    auto self = std::find(open_scopes.rbegin(), open_scopes.rend(), this);
    for (auto it = self == open_scopes.rend() ? self : std::next(self); it != open_scopes.rend(); ++it) {
        if ((*it)->cnx_.get() != cnx_.get()) continue;
        for (Change& change : changes_) (*it)->changes_.push_back(std::move(change));
        break;
    }
    changes_.clear();
}

void RollbackScope::IdChange::restore() const { PyObject_SetItem(row.get(), py::id(), old_id.get()); }

bool write_row_id(PyObject* row, PyObject* new_id, PyObject* old_id, PyObject* cnx) {
    if (RollbackScope* scope = RollbackScope::owning(cnx)) scope->record_id(row, old_id);
    return PyObject_SetItem(row, py::id(), new_id) == 0;
}

bool register_in_cache(PyObject* cache, PyObject* row, PyObject* table, PyObject* id, PyObject* cnx) {
    if (RollbackScope* scope = RollbackScope::owning(cnx)) {
        CacheEntryBackup backup;
        if (CacheEntryBackup::take(cache, table, id, row, backup)) scope->record_cache_entry(std::move(backup));
    }
    return static_cast<bool>(call_method(cache, py::Insert(), {row, table, cnx}));
}

}  // namespace brx
