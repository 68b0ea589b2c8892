#include "rows/item_meaning.hpp"

#include "rows/foreign_flag.hpp"

namespace brx {
namespace {

// A column: its value, and whether that value is an identifier to look up.
ItemMeaning column_meaning(const RowView& row, PyObject* name, Ref& out) {
    Ref store = row.column_store();
    if (!store) return ItemMeaning::Failed;
    if (PyDict_CheckExact(store.get())) {
        out = Ref::borrow(PyDict_GetItemWithError(store.get(), name));
        if (!out) {
            if (!PyErr_Occurred()) PyErr_SetObject(PyExc_KeyError, name);
            return ItemMeaning::Failed;
        }
    } else {
        out = Ref::steal(PyObject_GetItem(store.get(), name));
        if (!out) return ItemMeaning::Failed;
    }
    const int foreign = is_foreign_key(row, name);
    if (foreign < 0) return ItemMeaning::Failed;
    // Only a stored int is ever looked up; anything else is read as it is.
    return foreign && PyLong_Check(out.get()) ? ItemMeaning::ForeignKey : ItemMeaning::Value;
}

}  // namespace

ItemMeaning general_item_meaning(PyObject* self, PyObject* name, Ref& out) {
    const RowView row(self, name);
    const int has_attribute = row.find(name, out);
    if (has_attribute != 0) return has_attribute < 0 ? ItemMeaning::Failed : ItemMeaning::Attribute;
    const Declared declared = declared_as(
        name, [&] { return row.column_names(); }, [&](PyObject* attribute) { return row.get_attr(attribute); });
    switch (declared) {
        case Declared::Column: return column_meaning(row, name, out);
        case Declared::MultiForeign: return ItemMeaning::MultiForeign;
        case Declared::Missing: return ItemMeaning::Missing;
        case Declared::Failed: break;
    }
    return ItemMeaning::Failed;
}

}  // namespace brx
