// `with CNXGuard(cnx, pool) as cnx:` for the module's own operations. The guard
// class is looked up by its module-level name at each use.
#pragma once

#include "module/module_state.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"
#include "support/with_block.hpp"

namespace brx {

// Builds a guard from `cnx` and `pool` (by position), enters it and runs
// `work(connection)`; the guard's exit has run before this returns.
template <class Work>
Ref with_guard(PyObject* cnx, PyObject* pool, Work&& work) {
    Ref guard_class = global(py::CNXGuard());
    if (!guard_class) return {};
    Ref guard = call(guard_class.get(), {cnx, pool});
    if (!guard) return {};
    return with_block(guard.get(), std::forward<Work>(work));
}

}  // namespace brx
