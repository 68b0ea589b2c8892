// What item read and construction need from a row class, looked up once per
// class version. CPython gives a class a new version tag whenever an attribute
// of it (or of a base) is assigned, so a snapshot taken under one tag stays
// exact, and the objects it points at stay alive in the class namespace, until
// then. Snapshots are handed out by value: a cached slot may be refilled by any
// lookup that runs Python code, so nothing may keep pointing into it.
#pragma once

#include "frame/signature.hpp"
#include "support/python_internals.hpp"

namespace brx {

struct ClassSnapshot {
    PyTypeObject* type = nullptr;  // null: no snapshot (use the generic lookups)
    unsigned int version = 0;
    // Borrowed from the class namespace, valid while `current()` holds; null
    // when the attribute is missing or is a descriptor.
    PyObject* column_names = nullptr;
    PyObject* column_attributes = nullptr;
    PyObject* multi_foreign_attr = nullptr;
    // Rows of the class keep the column store where TableBase puts it, and
    // getattr reads it there: the class is a subclass of TableBase and nothing
    // in it shadows TableBase's member of that name.
    bool store_in_field = false;
    // _TableBase__is_foreign_key is the module's own method.
    bool runs_own_is_foreign_key = false;
    // _TableBase__get_default is the module's own method.
    bool runs_own_get_default = false;

    explicit operator bool() const { return type != nullptr; }
    // True while `self`'s class is still the snapshot's class at the same
    // version: then the borrowed pointers are still the class's attributes.
    // The validity is checked too: before 3.10 an assignment only marks the
    // tag invalid and leaves its number in place.
    bool current(PyObject* self) const {
        return type && Py_TYPE(self) == type && internals::version_tag(type) == version &&
               internals::has_valid_version(type);
    }
};

// True when `type` finds the module's own function with body `body` under
// `name`: the class does not override that method.
bool type_runs_own(PyTypeObject* type, PyObject* name, const Signature& signature);

// The snapshot of `type`, or null when the class has no valid version tag or
// changed while it was being taken. The pointer is into a shared slot: it is
// valid only until the next call that can run Python code.
const ClassSnapshot* current_snapshot(PyTypeObject* type);

// The snapshot of `type` by value (empty when there is none).
inline ClassSnapshot class_snapshot(PyTypeObject* type) {
    const ClassSnapshot* found = current_snapshot(type);
    return found ? *found : ClassSnapshot{};
}

}  // namespace brx
