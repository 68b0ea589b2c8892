#include "rows/row_access.hpp"

#include "frame/function.hpp"
#include "rows/class_snapshot.hpp"
#include "rows/row_methods.hpp"
#include "rows/row_type.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_internals.hpp"
#include "support/python_names.hpp"

namespace brx {

int contains_name(PyObject* names, PyObject* name) {
    PyObject** items = nullptr;
    Py_ssize_t count = 0;
    if (PyList_CheckExact(names)) {
        items = PySequence_Fast_ITEMS(names);
        count = PyList_GET_SIZE(names);
    } else if (PyTuple_CheckExact(names)) {
        items = PySequence_Fast_ITEMS(names);
        count = PyTuple_GET_SIZE(names);
    } else {
        return PySequence_Contains(names, name);
    }
    for (Py_ssize_t i = 0; i < count; ++i)
        if (items[i] == name) return 1;
    // Equality may run Python code that changes the list: re-read it each step.
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(names); ++i) {
        Ref item = Ref::borrow(PySequence_Fast_GET_ITEM(names, i));
        const int equal = PyObject_RichCompareBool(item.get(), name, Py_EQ);
        if (equal != 0) return equal;
    }
    return 0;
}

bool runs_own(PyObject* obj, PyObject* method_name, const Signature& signature) {
    // Instance attributes named like these private methods are not looked
    // for: finding them would cost an instance lookup on every item read.
    PyTypeObject* type = Py_TYPE(obj);
    return type->tp_getattro == PyObject_GenericGetAttr && type_runs_own(type, method_name, signature);
}

RowView::RowView(PyObject* self) : self_(self) {
    PyTypeObject* type = Py_TYPE(self);
    if (type->tp_getattro != PyObject_GenericGetAttr) return;
    ClassSnapshot snapshot = class_snapshot(type);
    if (!snapshot || !snapshot.store_in_field) return;
    const RowObject* row = as_row(self);
    if (row->dict && !PyDict_CheckExact(row->dict)) return;
    dict_ = Ref::borrow(row->dict);
    store_ = Ref::borrow(row->column_values);
    no_attributes_ = holds_no_attributes(row);
    snapshot_ = snapshot;
}

RowView::RowView(PyObject* self, PyObject* name) : self_(self) {
    if (PyUnicode_CheckExact(name)) *this = RowView(self);
}

Ref RowView::own_attribute(PyObject* name) const {
    if (no_attributes_) return {};
    return Ref::borrow(PyDict_GetItemWithError(dict_.get(), name));
}

Ref RowView::get_attr(PyObject* name) const {
    // Only while the snapshot holds is this still a class that keeps the
    // generic protocol.
    if (!snapshot_.current(self_) || !PyUnicode_CheckExact(name)) return Ref::steal(PyObject_GetAttr(self_, name));
    PyObject* in_class = internals::type_lookup(Py_TYPE(self_), name);
    if (in_class && Py_TYPE(in_class)->tp_descr_get) return Ref::steal(PyObject_GetAttr(self_, name));
    Ref held = Ref::borrow(in_class);  // the instance lookup below may run code that drops it
    if (Ref own = own_attribute(name)) return own;
    if (held || PyErr_Occurred()) return held;
    return Ref::steal(PyObject_GetAttr(self_, name));  // raises the usual AttributeError
}

Ref RowView::column_names() const {
    if (plain() && snapshot_.column_names) return Ref::borrow(snapshot_.column_names);
    return get_attr(py::COLUMN_NAMES());
}

Ref RowView::column_attributes() const {
    if (plain() && snapshot_.column_attributes) return Ref::borrow(snapshot_.column_attributes);
    return get_attr(py::COLUMN_ATTRIBUTES());
}

bool RowView::runs_own_is_foreign_key() const {
    if (plain()) return snapshot_.runs_own_is_foreign_key;
    return runs_own(py::row_is_foreign_key(), sig::table_is_foreign_key);
}

Ref RowView::column_store() const {
    if (store_) return Ref::borrow(store_.get());
    return brx::column_store(self_);
}

int RowView::find(PyObject* name, Ref& out) const {
    if (!snapshot_.current(self_) || !PyUnicode_CheckExact(name)) return lookup_attribute(self_, name, out);
    if (internals::type_lookup(Py_TYPE(self_), name)) return lookup_attribute(self_, name, out);
    out = own_attribute(name);
    if (out) return 1;
    if (PyErr_Occurred()) PyErr_Clear();
    return 0;
}

bool RowView::runs_own(PyObject* name, const Signature& signature) const {
    if (!snapshot_.current(self_)) return brx::runs_own(self_, name, signature);
    if (!type_runs_own(Py_TYPE(self_), name, signature) || own_attribute(name)) return false;
    if (!PyErr_Occurred()) return true;
    PyErr_Clear();
    return false;
}

PyObject* store_in_field(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    if (type->tp_getattro != PyObject_GenericGetAttr) return nullptr;
    const ClassSnapshot* snapshot = current_snapshot(type);
    return snapshot && snapshot->store_in_field ? as_row(self)->column_values : nullptr;
}

bool set_column_store(PyObject* self, PyObject* store) {
    PyTypeObject* type = Py_TYPE(self);
    const ClassSnapshot* snapshot = type->tp_setattro == PyObject_GenericSetAttr ? current_snapshot(type) : nullptr;
    if (!snapshot || !snapshot->store_in_field) return PyObject_SetAttr(self, py::row_column_values(), store) == 0;
    Py_XSETREF(as_row(self)->column_values, Py_NewRef(store));
    return true;
}

Ref row_column_names(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    const ClassSnapshot* snapshot = type->tp_getattro == PyObject_GenericGetAttr ? current_snapshot(type) : nullptr;
    if (snapshot && snapshot->store_in_field && snapshot->column_names && holds_no_attributes(as_row(self)))
        return Ref::borrow(snapshot->column_names);
    return get_attr(self, py::COLUMN_NAMES());
}

Ref column_store(PyObject* self) {
    if (PyObject* store = store_in_field(self)) return Ref::borrow(store);
    return Ref::steal(PyObject_GetAttr(self, py::row_column_values()));
}

}  // namespace brx
