// Item access on row objects: row[name] reads what item_meaning() says it
// names (an attribute, a column, with a foreign key resolved to its row object
// on first read, or a multi-foreign attribute, loaded on first read);
// row[name] = value writes a column or an attribute.
#include "rows/foreign_lookup.hpp"
#include "rows/item_meaning.hpp"
#include "rows/item_slot.hpp"
#include "rows/row_access.hpp"
#include "rows/row_methods.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// Item read's own lookup of a stored identifier: through the class's cache
// when it has one, else on a connection of the row's own pool.
Ref read_foreign_key(PyObject* self, PyObject* name, PyObject* id) {
    Ref cache = get_attr(self, py::CACHE());
    return cache ? resolve_foreign(self, name, id, cache.get(), nullptr) : Ref();
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

Ref item_read(PyObject* self, PyObject* name, ItemMeaning meaning, Ref value) {
    switch (meaning) {
        case ItemMeaning::Attribute:
        case ItemMeaning::Value: return value;
        case ItemMeaning::ForeignKey: return read_foreign_key(self, name, value.get());
        case ItemMeaning::MultiForeign: return read_multi_foreign(self, name);
        case ItemMeaning::Missing: return no_such_item(self, name);
        case ItemMeaning::Failed: break;
    }
    return {};
}

Ref table_getitem(Bound<sig::table_getitem> args) {
    PyObject* self = args.get<"self">();
    PyObject* name = args.get<"name">();
    adopt_direct_item_slot(self, args.function());
    Ref value;
    const ItemMeaning meaning = item_meaning(self, name, value);
    return item_read(self, name, meaning, std::move(value));
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
