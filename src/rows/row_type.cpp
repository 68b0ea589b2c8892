#include "rows/row_type.hpp"

#include "support/python_internals.hpp"
#include "support/python_names.hpp"

#include <structmember.h>

#include <cstddef>

namespace brx {

PyTypeObject* RowType = nullptr;

namespace {

PyObject* g_store_member = nullptr;

int row_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));  // instances of a heap type hold their type
    Py_VISIT(as_row(self)->column_values);
    Py_VISIT(as_row(self)->dict);
    return 0;
}

int row_clear(PyObject* self) {
    Py_CLEAR(as_row(self)->column_values);
    Py_CLEAR(as_row(self)->dict);
    return 0;
}

// A new row without an instance dict: object's own __new__ would make one
// for every row (CPython 3.11 and 3.12 do so for a type with a dict of its
// own). An abstract class is left to object's __new__, which refuses it.
PyObject* row_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    if (PyType_HasFeature(type, Py_TPFLAGS_IS_ABSTRACT)) return PyBaseObject_Type.tp_new(type, args, kwargs);
    return type->tp_alloc(type, 0);
}

// Subclasses made by class statements reach this through their own dealloc,
// which leaves the dict and the weak references to the base that has them.
void row_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    if (as_row(self)->weakrefs) PyObject_ClearWeakRefs(self);
    row_clear(self);
    type->tp_free(self);
    Py_DECREF(type);
}

}  // namespace

Ref make_row_type(const char* doc) {
    static PyMemberDef members[] = {
        {"_TableBase__column_values", T_OBJECT_EX, offsetof(RowObject, column_values), 0, nullptr},
        {"__weakref__", T_OBJECT, offsetof(RowObject, weakrefs), READONLY, nullptr},
        {"__dictoffset__", T_PYSSIZET, offsetof(RowObject, dict), READONLY, nullptr},
        {"__weaklistoffset__", T_PYSSIZET, offsetof(RowObject, weakrefs), READONLY, nullptr},
        {nullptr, 0, 0, 0, nullptr},
    };
    static PyGetSetDef getset[] = {
        {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(doc)},
        {Py_tp_new, reinterpret_cast<void*>(row_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(row_dealloc)},
        {Py_tp_traverse, reinterpret_cast<void*>(row_traverse)},
        {Py_tp_clear, reinterpret_cast<void*>(row_clear)},
        {Py_tp_members, members},
        {Py_tp_getset, getset},
        {0, nullptr},
    };
    PyType_Spec spec{"brx_sql.TableBase", static_cast<int>(sizeof(RowObject)), 0,
                     Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, slots};
    Ref type = Ref::steal(PyType_FromSpec(&spec));
    if (!type) return {};
    PyObject* member = PyDict_GetItemWithError(reinterpret_cast<PyTypeObject*>(type.get())->tp_dict,
                                               py::row_column_values());
    if (!member) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "TableBase has no column store member");
        return {};
    }
    // Held for good, as the type is: the module lives as long as the process.
    g_store_member = Py_NewRef(member);
    RowType = reinterpret_cast<PyTypeObject*>(Py_NewRef(type.get()));
    return type;
}

PyObject* store_member() { return g_store_member; }

bool holds_none_of(const RowObject* row, std::initializer_list<PyObject*> names) {
    if (holds_no_attributes(row)) return true;
    // A row holding its lists and a name or two, not a namespace to search.
    constexpr Py_ssize_t kScanned = 8;
    if (!PyDict_CheckExact(row->dict) || PyDict_GET_SIZE(row->dict) > kScanned) return false;
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(row->dict, &pos, &key, &value)) {
        if (!PyUnicode_CheckExact(key) || !internals::is_interned(key)) return false;
        for (PyObject* name : names)
            if (key == name) return false;
    }
    return true;
}

}  // namespace brx
