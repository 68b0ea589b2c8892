#include "rows/foreign_flag.hpp"

#include "rows/class_snapshot.hpp"
#include "rows/row_methods.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {

Ref foreign_flag(PyObject* attributes, PyObject* name) {
    Ref settings;
    if (PyDict_CheckExact(attributes)) {
        settings = Ref::borrow(PyDict_GetItemWithError(attributes, name));
        if (!settings) return PyErr_Occurred() ? Ref() : Ref::borrow(Py_False);
    } else {
        const int present = PySequence_Contains(attributes, name);
        if (present <= 0) return present < 0 ? Ref() : Ref::borrow(Py_False);
        settings = Ref::steal(PyObject_GetItem(attributes, name));
        if (!settings) return {};
    }
    return get_own_attr(settings.get(), py::isForeignKey());
}

int foreign_flag_in(PyObject* attributes, PyObject* name) {
    Ref flag = foreign_flag(attributes, name);
    return flag ? truth(flag.get()) : -1;
}

int is_foreign_key(const RowView& row, PyObject* name) {
    if (row.runs_own_is_foreign_key()) {
        Ref attributes = row.column_attributes();
        return attributes ? foreign_flag_in(attributes.get(), name) : -1;
    }
    Ref flag = call_method(row.self(), py::row_is_foreign_key(), {name});
    return flag ? truth(flag.get()) : -1;
}

ClassForeignKey class_foreign_key(PyObject* cls, PyObject* name) {
    if (PyType_Check(cls)) {
        auto* type = reinterpret_cast<PyTypeObject*>(cls);
        if (type->tp_getattro != PyObject_GenericGetAttr ||
            !type_runs_own(type, py::row_is_foreign_key(), sig::table_is_foreign_key))
            return ClassForeignKey::PerRow;
    }
    Ref attributes = get_attr(cls, py::COLUMN_ATTRIBUTES());
    const int foreign = attributes ? foreign_flag_in(attributes.get(), name) : -1;
    if (foreign < 0) return ClassForeignKey::Failed;
    return foreign ? ClassForeignKey::Yes : ClassForeignKey::No;
}

int foreign_key_of(PyObject* cls, PyObject* name, PyObject* row) {
    switch (class_foreign_key(cls, name)) {
        case ClassForeignKey::Failed: return -1;
        case ClassForeignKey::No: return 0;
        case ClassForeignKey::Yes: return 1;
        case ClassForeignKey::PerRow: break;
    }
    return row ? is_foreign_key(RowView(row), name) : 1;
}

}  // namespace brx
