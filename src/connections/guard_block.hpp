// `with CNXGuard(cnx, pool) as cnx:` for the module's own operations. The guard
// class is looked up by its module-level name at each use.
#pragma once

#include "frame/module_state.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"
#include "support/with_block.hpp"

namespace brx {

// Set by the module's own guard when its exit has committed (or found no
// transaction to end); forget_guard_commit() clears it before a block.
void forget_guard_commit();
bool guard_committed(PyObject* guard);

// Builds a guard from `cnx` and `pool` (by position), enters it and runs
// `work(connection)`; the guard's exit has run before this returns. When
// `committed` is given, it tells whether the work is stored even though the
// call failed: the block succeeded and its commit did, and only giving the
// connection back was interrupted.
template <class Work>
Ref with_guard(PyObject* cnx, PyObject* pool, Work&& work, bool* committed = nullptr) {
    Ref guard_class = global(py::CNXGuard());
    if (!guard_class) return {};
    Ref guard = call(guard_class.get(), {cnx, pool});
    if (!guard) return {};
    forget_guard_commit();
    Ref result = with_block(guard.get(), std::forward<Work>(work));
    if (committed) *committed = result || guard_committed(guard.get());
    return result;
}

}  // namespace brx
