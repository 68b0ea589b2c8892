// Pickling and copying row objects. The column store lives in a field of the
// row (rows/row_type.hpp), which the interpreter's default state would leave
// out; the state here is the one rows had when the store was an ordinary
// attribute: a dict of the instance attributes and the store under its name,
// with the values of slots a subclass declares beside it as (dict, slots). So
// pickles made before and after load alike.
//
// Rows are remade by copyreg.__newobj__ (cls.__new__(cls)) for every protocol:
// TableBase's __new__ is its own (no dict made for a row that needs none),
// which the interpreter's reduction for protocols 0 and 1 would not call.
#include "rows/row_methods.hpp"
#include "rows/row_type.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// The values of the slots the row's classes declare (copyreg's own list), as a
// dict; null with nothing set when there are none.
Ref slot_values(PyObject* self, bool& failed) {
    Ref copyreg = Ref::steal(PyImport_Import(py::copyreg()));
    Ref names = copyreg ? call_method(copyreg.get(), py::slotnames(), {reinterpret_cast<PyObject*>(Py_TYPE(self))}) : Ref();
    Ref values = names ? Ref::steal(PyDict_New()) : Ref();
    failed = !values || !each_item(names.get(), [&](PyObject* name) {
        Ref value;
        if (lookup_attribute(self, name, value) < 0) return false;
        return !value || PyDict_SetItem(values.get(), name, value.get()) == 0;
    });
    if (failed || PyDict_GET_SIZE(values.get()) == 0) return {};
    return values;
}

// state[name] = value of an attribute dict, as pickle's default does: str
// names interned, straight into the instance dict; the store into its field.
bool set_from_dict_state(PyObject* self, PyObject* state) {
    Ref dict;
    Ref items = call_method(state, py::items(), {});
    return items && each_item(items.get(), [&](PyObject* item) {
        Ref pair[2];
        if (!unpack_pair(item, pair)) return false;
        if (PyUnicode_Check(pair[0].get())) {
            const int is_store = PyObject_RichCompareBool(pair[0].get(), py::row_column_values(), Py_EQ);
            if (is_store < 0) return false;
            if (is_store) return PyObject_SetAttr(self, py::row_column_values(), pair[1].get()) == 0;
            if (PyUnicode_CheckExact(pair[0].get())) {
                PyObject* name = pair[0].release();
                PyUnicode_InternInPlace(&name);
                pair[0] = Ref::steal(name);
            }
        }
        if (!dict && !(dict = get_attr(self, py::dunder_dict()))) return false;
        return PyObject_SetItem(dict.get(), pair[0].get(), pair[1].get()) == 0;
    });
}

}  // namespace

Ref table_getstate(Bound<sig::table_getstate> args) {
    PyObject* self = args.get<"self">();
    Ref state = Ref::steal(PyDict_New());
    Ref store;
    if (!state || lookup_attribute(self, py::row_column_values(), store) < 0) return {};
    if (store && PyDict_SetItem(state.get(), py::row_column_values(), store.get()) < 0) return {};
    // A row without attributes has no dict: none is made for it here.
    Ref attributes = has_row_layout(self) ? Ref::borrow(as_row(self)->dict) : get_attr(self, py::dunder_dict());
    if (!attributes && PyErr_Occurred()) return {};
    if (attributes && PyDict_Update(state.get(), attributes.get()) < 0) return {};
    bool failed = false;
    Ref slots = slot_values(self, failed);
    if (failed) return {};
    if (PyDict_GET_SIZE(state.get()) == 0) state = none();
    if (!slots) return state;
    return Ref::steal(PyTuple_Pack(2, state.get(), slots.get()));
}

Ref table_reduce(Bound<sig::table_reduce> args) {
    PyObject* self = args.get<"self">();
    Ref copyreg = Ref::steal(PyImport_Import(py::copyreg()));
    Ref remake = copyreg ? get_attr(copyreg.get(), py::dunder_newobj()) : Ref();
    Ref remake_args = remake ? Ref::steal(PyTuple_Pack(1, reinterpret_cast<PyObject*>(Py_TYPE(self)))) : Ref();
    Ref state = remake_args ? call_method(self, py::dunder_getstate(), {}) : Ref();
    if (!state) return {};
    return Ref::steal(PyTuple_Pack(3, remake.get(), remake_args.get(), state.get()));
}

Ref table_setstate(Bound<sig::table_setstate> args) {
    PyObject* self = args.get<"self">();
    Ref state = Ref::borrow(args.get<"state">());
    Ref slots;
    if (PyTuple_Check(state.get()) && PyTuple_GET_SIZE(state.get()) == 2) {
        slots = Ref::borrow(PyTuple_GET_ITEM(state.get(), 1));
        state = Ref::borrow(PyTuple_GET_ITEM(state.get(), 0));
    }
    const int has_attributes = truth(state.get());
    if (has_attributes < 0 || (has_attributes && !set_from_dict_state(self, state.get()))) return {};
    const int has_slots = slots ? truth(slots.get()) : 0;
    if (has_slots < 0) return {};
    if (has_slots) {
        Ref items = call_method(slots.get(), py::items(), {});
        const bool set = items && each_item(items.get(), [&](PyObject* item) {
            Ref pair[2];
            return unpack_pair(item, pair) && PyObject_SetAttr(self, pair[0].get(), pair[1].get()) == 0;
        });
        if (!set) return {};
    }
    return none();
}

}  // namespace brx
