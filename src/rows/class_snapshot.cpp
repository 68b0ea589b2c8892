#include "rows/class_snapshot.hpp"

#include "frame/function.hpp"
#include "rows/row_methods.hpp"
#include "rows/row_type.hpp"
#include "support/class_version_cache.hpp"
#include "support/names.hpp"
#include "support/python_internals.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

ClassVersionCache<ClassSnapshot> snapshots;

PyObject* plain_value(PyTypeObject* type, PyObject* name) {
    PyObject* value = internals::type_lookup(type, name);
    return value && !Py_TYPE(value)->tp_descr_get ? value : nullptr;
}

ClassSnapshot take_snapshot(PyTypeObject* type) {
    ClassSnapshot fresh;
    fresh.column_names = plain_value(type, py::COLUMN_NAMES());
    // The first lookup gives the class a version tag when it had none.
    if (!internals::has_valid_version(type)) return {};
    const unsigned int version = internals::version_tag(type);
    fresh.column_attributes = plain_value(type, py::COLUMN_ATTRIBUTES());
    fresh.multi_foreign_attr = plain_value(type, py::MULTI_FOREIGN_ATTR());
    fresh.store_in_field = RowType && PyType_IsSubtype(type, RowType) &&
                           internals::type_lookup(type, py::row_column_values()) == store_member();
    fresh.runs_own_is_foreign_key = type_runs_own(type, py::row_is_foreign_key(), sig::table_is_foreign_key);
    fresh.runs_own_get_default = type_runs_own(type, py::row_get_default(), sig::table_get_default);
    // A lookup may run Python code (a hostile key's __eq__) that changes the
    // class: then what was found may be gone, and nothing is kept.
    if (!internals::has_valid_version(type) || internals::version_tag(type) != version) return {};
    fresh.type = type;
    fresh.version = version;
    return fresh;
}

}  // namespace

bool type_runs_own(PyTypeObject* type, PyObject* name, const Signature& signature) {
    PyObject* found = internals::type_lookup(type, name);
    return found && is_function_of(found, signature);
}

const ClassSnapshot* current_snapshot(PyTypeObject* type) {
    if (!internals::kFastPaths) return nullptr;
    if (const ClassSnapshot* kept = snapshots.find(type)) return kept;
    ClassSnapshot fresh = take_snapshot(type);
    if (!fresh) return nullptr;
    return &snapshots.keep(type, fresh.version, fresh);
}

}  // namespace brx
