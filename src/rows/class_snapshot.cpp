#include "rows/class_snapshot.hpp"

#include "module/function.hpp"
#include "module/names.hpp"
#include "module/python_names.hpp"
#include "rows/row_methods.hpp"

#include <array>
#include <cstdint>

namespace brx {
namespace {

std::array<ClassSnapshot, 16> snapshots;

bool has_valid_version(PyTypeObject* type) {
#if PY_VERSION_HEX < 0x030C0000
    if (!PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG)) return false;
#endif
    return type->tp_version_tag != 0;
}

PyObject* plain_value(PyTypeObject* type, PyObject* name) {
    PyObject* value = _PyType_Lookup(type, name);
    return value && !Py_TYPE(value)->tp_descr_get ? value : nullptr;
}

ClassSnapshot take_snapshot(PyTypeObject* type) {
    ClassSnapshot fresh;
    fresh.column_names = plain_value(type, py::COLUMN_NAMES());
    // The first lookup gives the class a version tag when it had none.
    if (!has_valid_version(type)) return {};
    const unsigned int version = type->tp_version_tag;
    fresh.column_attributes = plain_value(type, py::COLUMN_ATTRIBUTES());
    fresh.multi_foreign_attr = plain_value(type, py::MULTI_FOREIGN_ATTR());
    fresh.shadows_store = _PyType_Lookup(type, py::row_column_values()) != nullptr;
    fresh.runs_own_is_foreign_key = type_runs_own(type, py::row_is_foreign_key(), sig::table_is_foreign_key);
    fresh.runs_own_get_default = type_runs_own(type, py::row_get_default(), sig::table_get_default);
    // A lookup may run Python code (a hostile key's __eq__) that changes the
    // class: then what was found may be gone, and nothing is kept.
    if (!has_valid_version(type) || type->tp_version_tag != version) return {};
    fresh.type = type;
    fresh.version = version;
    return fresh;
}

}  // namespace

bool type_runs_own(PyTypeObject* type, PyObject* name, const Signature& signature) {
    PyObject* found = _PyType_Lookup(type, name);
    return found && is_function_of(found, signature);
}

const ClassSnapshot* current_snapshot(PyTypeObject* type) {
    ClassSnapshot& slot = snapshots[(reinterpret_cast<std::uintptr_t>(type) >> 6) % snapshots.size()];
    if (slot.type == type && slot.version == type->tp_version_tag && has_valid_version(type)) return &slot;
    ClassSnapshot fresh = take_snapshot(type);
    if (!fresh) return nullptr;
    slot = fresh;
    return &slot;
}

}  // namespace brx
