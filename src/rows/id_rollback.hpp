// Putting row objects back as they were after a failed Insert or Update.
//
// An Insert or Update given no connection borrows one, and its guard rolls the
// whole call tree back when anything fails. The rows that rollback removed must
// not keep the identifiers the call wrote into their objects, nor stay
// registered in a cache: a retried Insert would take them for stored rows and
// silently store nothing.
//
// Such a call opens a RollbackScope and attaches it to the connection its guard
// lent. Every nested call of its tree is given that connection, so a nested call
// finds the scope by the connection and records there what it changes. A call
// given a connection that no open scope of this thread owns works inside its
// caller's transaction; it records nothing and its changes stay, as the caller
// decides about that transaction.
#pragma once

#include "rows/cache_entry_backup.hpp"
#include "support/ref.hpp"

#include <variant>
#include <vector>

namespace brx {

class RollbackScope {
public:
    // `owns_transaction`: the call was given no connection, so its own guard
    // borrows one and rolls back on failure (or, as InsertMany, the call
    // undoes its own part of the caller's transaction). Otherwise the scope
    // stays idle.
    explicit RollbackScope(bool owns_transaction);
    ~RollbackScope();
    RollbackScope(const RollbackScope&) = delete;
    RollbackScope& operator=(const RollbackScope&) = delete;

    // The connection the guard lent: nested calls given it record here.
    void attach(PyObject* cnx);
    // After the guarded call failed: restores every recorded id and cache entry,
    // newest first, then forgets them. The pending exception is kept; a failure
    // while restoring one entry does not stop the others.
    void undo();
    // After the call succeeded inside a call further out on the same
    // connection: that call's scope takes over what this one recorded, so
    // its failure puts these changes back too.
    void hand_over();

    // The open scope owning `cnx` in this thread, or null.
    static RollbackScope* owning(PyObject* cnx);

    void record_id(PyObject* row, PyObject* old_id);
    void record_cache_entry(CacheEntryBackup backup);

private:
    struct IdChange {
        Ref row;
        Ref old_id;  // the value to put back
        void restore() const;
    };
    using Change = std::variant<IdChange, CacheEntryBackup>;

    bool open_;
    Ref cnx_;
    std::vector<Change> changes_;
};

// row["id"] = new_id; remembers `old_id` when an open scope owns `cnx`.
bool write_row_id(PyObject* row, PyObject* new_id, PyObject* old_id, PyObject* cnx);

// cache.Insert(row, table, cnx); remembers the entry it replaces under `id`
// when an open scope owns `cnx`.
bool register_in_cache(PyObject* cache, PyObject* row, PyObject* table, PyObject* id, PyObject* cnx);

}  // namespace brx
