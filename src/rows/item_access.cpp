// Item access on row objects: row[name] reads an attribute, a column (with a
// foreign key resolved to its row object on first read) or a multi-foreign
// list attribute; row[name] = value writes a column or an attribute.
#include "module/module_state.hpp"
#include "rows/item_slot.hpp"
#include "rows/plain_read.hpp"
#include "rows/row_access.hpp"
#include "rows/row_methods.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// Looks the referenced row up (through the class's cache when it has one) and
// keeps the row object in place of the identifier.
Ref resolve_foreign_key(PyObject* self, PyObject* name, PyObject* id) {
    Ref table, row_class;
    if (!foreign_target(self, name, table, row_class)) return {};
    Ref cache = get_attr(self, py::CACHE());
    if (!cache) return {};
    Ref value;
    if (cache.get() == Py_None) {
        // The row's own pool, so a class bound to another database reads
        // its referenced rows from that database.
        Ref pool = row_pool(self, Py_None);
        if (!pool) return {};
        Ref guard_class = global(py::CNXGuard());
        if (!guard_class) return {};
        value = call_method(guard_class.get(), py::Select(), {id, table.get(), row_class.get(), Py_None, pool.get()});
    } else {
        value = call_method(cache.get(), py::Select(), {id, table.get(), row_class.get()});
    }
    if (!value) return {};
    // The lookup ran Python code and reached the server: store into the
    // column store the row holds now.
    Ref store = column_store(self);
    if (!store || PyObject_SetItem(store.get(), name, value.get()) < 0) return {};
    return value;
}

Ref read_column(const RowView& row, PyObject* name) {
    PyObject* self = row.self();
    Ref store = row.column_store();
    if (!store) return {};
    Ref value;
    if (PyDict_CheckExact(store.get())) {
        value = Ref::borrow(PyDict_GetItemWithError(store.get(), name));
        if (!value) {
            if (!PyErr_Occurred()) PyErr_SetObject(PyExc_KeyError, name);
            return {};
        }
    } else {
        value = Ref::steal(PyObject_GetItem(store.get(), name));
        if (!value) return {};
    }
    const int foreign = is_foreign_key(row, name);
    if (foreign < 0) return {};
    if (foreign && PyLong_Check(value.get())) return resolve_foreign_key(self, name, value.get());
    return value;
}

Ref read_multi_foreign(PyObject* self, PyObject* name) {
    Ref filled = call_method(self, py::FillForeign(), {Py_False});
    if (!filled) return {};
    return get_attr(self, name);
}

Ref no_such_item(PyObject* self, PyObject* name) {
    Ref cls = get_attr(self, py::dunder_class());
    Ref class_name = cls ? get_attr(cls.get(), py::dunder_name()) : Ref();
    if (!class_name) return {};
    Ref message = format("%s instance has no attribute '%s'"_id, {class_name.get(), name});
    if (message) PyErr_SetObject(PyExc_AttributeError, message.get());
    return {};
}

}  // namespace

Ref table_getitem(Bound<sig::table_getitem> args) {
    PyObject* self = args.get<"self">();
    PyObject* name = args.get<"name">();
    adopt_direct_item_slot(self, args.function());
    Ref value;
    switch (read_plain_column(self, name, value)) {
        case PlainRead::Value: return value;
        case PlainRead::ForeignKey: return resolve_foreign_key(self, name, value.get());
        case PlainRead::Failed: return {};
        case PlainRead::NotPlain: break;
    }
    const RowView row(self, name);
    Ref attribute;
    const int has_attribute = row.find(name, attribute);
    if (has_attribute < 0) return {};
    if (has_attribute) return attribute;

    Ref column_names = row.column_names();
    if (!column_names) return {};
    const int is_column = contains_name(column_names.get(), name);
    if (is_column < 0) return {};
    if (is_column) return read_column(row, name);

    Ref multi_foreign = row.get_attr(py::MULTI_FOREIGN_ATTR());
    if (!multi_foreign) return {};
    const int is_list_attr = PySequence_Contains(multi_foreign.get(), name);
    if (is_list_attr < 0) return {};
    if (is_list_attr) return read_multi_foreign(self, name);
    return no_such_item(self, name);
}

Ref table_setitem(Bound<sig::table_setitem> args) {
    PyObject* self = args.get<"self">();
    PyObject* name = args.get<"name">();
    PyObject* value = args.get<"value">();
    Ref column_names = get_attr(self, py::COLUMN_NAMES());
    if (!column_names) return {};
    const int is_column = contains_name(column_names.get(), name);
    if (is_column < 0) return {};
    if (!is_column) return PyObject_SetAttr(self, name, value) < 0 ? Ref() : none();
    Ref store = column_store(self);
    if (!store || PyObject_SetItem(store.get(), name, value) < 0) return {};
    return none();
}

}  // namespace brx
