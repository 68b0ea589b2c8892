// The fast case of item_meaning(): an exact str name of a plain column, found
// in COLUMN_NAMES by identity, on a row object that holds no attribute of its
// own, whose class keeps the generic attribute protocol, TableBase's column
// store and the module's own foreign-key rule. Everything else, and everything
// this path cannot be sure of before a lookup may run Python code, is left to
// the general rules.
#include "rows/item_meaning.hpp"

#include "rows/class_snapshot.hpp"
#include "rows/foreign_flag.hpp"
#include "rows/row_access.hpp"
#include "rows/row_type.hpp"
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

}  // namespace

std::optional<ItemMeaning> plain_item_meaning(PyObject* self, PyObject* name, Ref& out) {
    if (!internals::kFastPaths) return std::nullopt;
    PyTypeObject* type = Py_TYPE(self);
    if (!PyUnicode_CheckExact(name) || type->tp_getattro != PyObject_GenericGetAttr) return std::nullopt;
    const ClassSnapshot* snapshot = current_snapshot(type);
    if (!snapshot || !snapshot->store_in_field || !snapshot->runs_own_is_foreign_key || !snapshot->column_names ||
        !snapshot->column_attributes || !PyDict_CheckExact(snapshot->column_attributes))
        return std::nullopt;
    RowObject* row = as_row(self);
    // No attribute of the class, nor of the row's own, may take the name
    // first (the store's own name is a class attribute: TableBase's member),
    // and the class settings the row reads must be the class's.
    if (internals::type_lookup(type, name) || !listed_by_identity(snapshot->column_names, name)) return std::nullopt;
    if (!holds_no_attributes(row) &&
        !(internals::is_interned(name) && holds_none_of(row, {name, py::COLUMN_NAMES(), py::COLUMN_ATTRIBUTES()})))
        return std::nullopt;
    if (!row->column_values || !PyDict_CheckExact(row->column_values)) return std::nullopt;

    // From here on lookups may run Python code: hold what they use.
    const unsigned int version = snapshot->version;
    Ref attributes = Ref::borrow(snapshot->column_attributes);
    Ref store = Ref::borrow(row->column_values);
    Ref value = Ref::borrow(PyDict_GetItemWithError(store.get(), name));
    if (!value) {
        if (!PyErr_Occurred()) PyErr_SetObject(PyExc_KeyError, name);
        return ItemMeaning::Failed;
    }
    // The foreign-key rule, from the class as it is now: the snapshot's
    // settings only while the class and the row are still as found.
    const bool unchanged = Py_TYPE(self) == type && internals::version_tag(type) == version &&
                           (holds_no_attributes(row) || holds_none_of(row, {py::COLUMN_ATTRIBUTES()}));
    out = std::move(value);
    // Only a stored int is ever looked up, so the module's own rule need not
    // be asked about anything else (a resolved key, a plain value).
    if (unchanged && !PyLong_Check(out.get())) return ItemMeaning::Value;
    const int foreign = unchanged ? foreign_flag_in(attributes.get(), name) : is_foreign_key(RowView(self), name);
    if (foreign < 0) return ItemMeaning::Failed;
    return foreign && PyLong_Check(out.get()) ? ItemMeaning::ForeignKey : ItemMeaning::Value;
}

}  // namespace brx
