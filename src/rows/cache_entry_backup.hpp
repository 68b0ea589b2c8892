// A cache entry as it was before a failed Insert registered a row under its
// new identifier, so that the entry can be put back (see rows/id_rollback.hpp).
#pragma once

#include "support/ref.hpp"

namespace brx {

class CacheEntryBackup {
public:
    // The entry `key` of `table` in `cache` before `row` is registered there.
    // False (nothing to put back) unless the cache is the module's own Cache,
    // the only kind that keeps its rows where they can be put back.
    static bool take(PyObject* cache, PyObject* table, PyObject* key, PyObject* row, CacheEntryBackup& out);
    // Puts the entry back unless something else replaced it since. Best
    // effort: a failure leaves an exception set for the caller to clear.
    void restore() const;

private:
    Ref tables;    // the cache's table -> rows dict
    Ref table;
    Ref key;
    Ref row;
    Ref previous;  // the entry the registration replaced, if any
    bool table_known = false;
};

}  // namespace brx
