#include "cache/cache_state.hpp"

#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {

Ref table_rows_of(PyObject* self) { return get_attr(self, py::cache_obj_dict()); }
Ref row_classes_of(PyObject* self) { return get_attr(self, py::cache_class_dict()); }

Ref rows_for_table(PyObject* mapping, PyObject* key) {
    if (!PyDict_CheckExact(mapping)) {
        Ref empty = Ref::steal(PyDict_New());
        if (!empty) return {};
        return call_method(mapping, py::setdefault(), {key, empty.get()});
    }
    if (PyObject* rows = PyDict_GetItemWithError(mapping, key)) return Ref::borrow(rows);
    if (PyErr_Occurred()) return {};
    Ref empty = Ref::steal(PyDict_New());
    if (!empty) return {};
    return Ref::borrow(PyDict_SetDefault(mapping, key, empty.get()));
}

int find_entry(PyObject* mapping, PyObject* key, Ref& out) {
    if (PyDict_CheckExact(mapping)) {
        if (PyObject* value = PyDict_GetItemWithError(mapping, key)) {
            out = Ref::borrow(value);
            return 1;
        }
        return PyErr_Occurred() ? -1 : 0;
    }
    const int present = PySequence_Contains(mapping, key);
    if (present <= 0) return present;
    out = Ref::steal(PyObject_GetItem(mapping, key));
    return out ? 1 : -1;
}

bool store_entry(PyObject* mapping, PyObject* key, PyObject* value) {
    if (PyDict_CheckExact(mapping)) return PyDict_SetItem(mapping, key, value) == 0;
    return PyObject_SetItem(mapping, key, value) == 0;
}

bool discard_entry(PyObject* mapping, PyObject* key) {
    const int present =
        PyDict_CheckExact(mapping) ? PyDict_Contains(mapping, key) : PySequence_Contains(mapping, key);
    if (present <= 0) return present == 0;
    if (PyDict_CheckExact(mapping)) return PyDict_DelItem(mapping, key) == 0;
    return static_cast<bool>(call_method(mapping, py::pop(), {key}));
}

Ref resolve_pool(PyObject* self, PyObject* pool) { return call_method(self, py::cache_get_pool(), {pool}); }

}  // namespace brx
