// `with CNXGuard(cnx, pool) as cnx:` for the module's own operations. The guard
// class is looked up by its module-level name at each use.
#pragma once

#include "module/calls.hpp"
#include "module/module_state.hpp"
#include "module/names.hpp"
#include "module/python_names.hpp"
#include "module/with_block.hpp"

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
