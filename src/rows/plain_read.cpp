// The fast case of item_meaning(): an exact str name of a plain column, found
// in COLUMN_NAMES by identity, on a row object that holds nothing but its
// column store, whose class keeps the generic attribute protocol and the
// module's own foreign-key rule. Everything else, and everything this path
// cannot be sure of before a lookup may run Python code, is left to the
// general rules.
#include "rows/item_meaning.hpp"

#include "rows/class_snapshot.hpp"
#include "rows/foreign_flag.hpp"
#include "rows/row_access.hpp"
#include "support/names.hpp"
#include "support/python_internals.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// `name` stands in the list or tuple `names` as that very object.
bool listed_by_identity(PyObject* names, PyObject* name) {
    if (!PyList_CheckExact(names) && !PyTuple_CheckExact(names)) return false;
    PyObject** items = PySequence_Fast_ITEMS(names);
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(names);
    for (Py_ssize_t i = 0; i < count; ++i)
        if (items[i] == name) return true;
    return false;
}

// An item read of the store's own name finds the store as an attribute.
bool names_the_store(PyObject* name) {
    PyObject* store_name = py::row_column_values();
    return name == store_name ||
           (PyUnicode_GET_LENGTH(name) == PyUnicode_GET_LENGTH(store_name) && PyUnicode_Compare(name, store_name) == 0);
}

// The column store of an instance dict that holds nothing else: read off its
// only entry when that entry's key is the interned name itself, which is how
// the constructor stores it; a lookup otherwise.
PyObject* sole_store(PyObject* dict) {
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    if (PyDict_Next(dict, &pos, &key, &value) && key == py::row_column_values()) return value;
    return PyDict_GetItemWithError(dict, py::row_column_values());
}

}  // namespace

std::optional<ItemMeaning> plain_item_meaning(PyObject* self, PyObject* name, Ref& out) {
    if (!internals::kFastPaths) return std::nullopt;
    PyTypeObject* type = Py_TYPE(self);
    if (!PyUnicode_CheckExact(name) || type->tp_getattro != PyObject_GenericGetAttr) return std::nullopt;
    PyObject* dict = internals::instance_dict(self);
    if (!dict || !PyDict_CheckExact(dict) || PyDict_GET_SIZE(dict) != 1) return std::nullopt;
    const ClassSnapshot* snapshot = current_snapshot(type);
    if (!snapshot || snapshot->shadows_store || !snapshot->runs_own_is_foreign_key || !snapshot->column_names ||
        !snapshot->column_attributes || !PyDict_CheckExact(snapshot->column_attributes))
        return std::nullopt;
    // The attribute rule comes first: a class attribute of that name wins.
    if (internals::type_lookup(type, name) || !listed_by_identity(snapshot->column_names, name) || names_the_store(name))
        return std::nullopt;

    // From here on lookups may run Python code: hold what they use.
    const unsigned int version = snapshot->version;
    Ref attributes = Ref::borrow(snapshot->column_attributes);
    Ref held_dict = Ref::borrow(dict);
    Ref store = Ref::borrow(sole_store(dict));
    if (!store || !PyDict_CheckExact(store.get())) {
        if (PyErr_Occurred()) PyErr_Clear();
        return std::nullopt;  // only the lookup of the store was made: nothing to undo
    }
    Ref value = Ref::borrow(PyDict_GetItemWithError(store.get(), name));
    if (!value) {
        if (!PyErr_Occurred()) PyErr_SetObject(PyExc_KeyError, name);
        return ItemMeaning::Failed;
    }
    // The foreign-key rule, from the class as it is now: the snapshot's
    // settings only while the class and the instance are still as found.
    const bool unchanged = Py_TYPE(self) == type && internals::version_tag(type) == version &&
                           internals::instance_dict(self) == dict && PyDict_GET_SIZE(dict) == 1;
    out = std::move(value);
    // Only a stored int is ever looked up, so the module's own rule need not
    // be asked about anything else (a resolved key, a plain value).
    if (unchanged && !PyLong_Check(out.get())) return ItemMeaning::Value;
    const int foreign = unchanged ? foreign_flag_in(attributes.get(), name) : is_foreign_key(RowView(self), name);
    if (foreign < 0) return ItemMeaning::Failed;
    return foreign && PyLong_Check(out.get()) ? ItemMeaning::ForeignKey : ItemMeaning::Value;
}

}  // namespace brx
