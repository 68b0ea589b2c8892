// `with CNXGuard(cnx, pool) as cnx:` for the module's own operations. The guard
// class is looked up by its module-level name at each use.
#pragma once

#include "frame/module_state.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"
#include "support/with_block.hpp"

#include <initializer_list>

namespace brx {

// CNXGuard.<name>: a static helper (Select, Insert, Delete, ...) or POOL, of
// the guard class bound to the module name now, as every operation finds it.
// A helper is looked up before its arguments are computed, as Python
// evaluates such a call.
inline Ref guard_class_attr(PyObject* name) {
    Ref guard_class = global(py::CNXGuard());
    return guard_class ? get_attr(guard_class.get(), name) : Ref();
}

// CNXGuard.<name>(*args)
inline Ref call_guard_helper(PyObject* name, std::initializer_list<PyObject*> args) {
    Ref helper = guard_class_attr(name);
    return helper ? call(helper.get(), args) : Ref();
}

// Whether the exit of `guard`, the module's own guard, has committed (or found
// no transaction to end): the guard notes it on itself, so that no other
// guard's block, not even one run inside its pool's Put, can change the answer.
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
    Ref result = with_block(guard.get(), std::forward<Work>(work));
    if (committed) *committed = result || guard_committed(guard.get());
    return result;
}

}  // namespace brx
