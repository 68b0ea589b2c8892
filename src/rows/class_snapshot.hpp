// What item read needs from a row class, looked up once per class version.
// CPython gives a class a new version tag whenever an attribute of it (or of a
// base) is assigned, so a snapshot taken under one tag stays exact until then.
#pragma once

#include "module/signature.hpp"

namespace brx {

struct ClassSnapshot {
    PyTypeObject* type = nullptr;
    unsigned int version = 0;
    // Borrowed from the class namespace; null when the attribute is missing or
    // is a descriptor (then the generic lookup is used).
    PyObject* column_names = nullptr;
    PyObject* column_attributes = nullptr;
    PyObject* multi_foreign_attr = nullptr;
    // The class defines an attribute named like the column store.
    bool shadows_store = false;
    // _TableBase__is_foreign_key is the module's own method.
    bool own_is_foreign_key = false;
    // _TableBase__get_default is the module's own method.
    bool own_get_default = false;
};

// True when `type` finds the module's own function with body `body` under
// `name`: the class does not override that method.
bool class_runs_own(PyTypeObject* type, PyObject* name, Body body);

// The snapshot of `type`, or null when the class has no valid version tag.
const ClassSnapshot* class_snapshot(PyTypeObject* type);

}  // namespace brx
