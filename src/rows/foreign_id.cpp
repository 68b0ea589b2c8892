// row.ForeignId(name): the identifier a foreign-key column refers to, read
// from what the column holds, without a lookup and so without a connection.
#include "rows/foreign_flag.hpp"
#include "rows/item_meaning.hpp"
#include "rows/referenced_rows.hpp"
#include "rows/row_methods.hpp"
#include "support/python_names.hpp"

namespace brx {

Ref table_foreign_id(Bound<sig::table_foreign_id> args) {
    PyObject* self = args.get<"self">();
    PyObject* name = args.get<"name">();
    const RowView row(self, name);
    // The column rules of item read, its attribute rule aside: the column
    // itself is read, whatever attribute may share its name.
    const Declared declared = declared_as(
        name, [&] { return row.column_names(); }, [&](PyObject* attribute) { return row.get_attr(attribute); });
    if (declared == Declared::Failed) return {};
    const int foreign = declared == Declared::Column ? is_foreign_key(row, name) : 0;
    if (foreign < 0) return {};
    if (!foreign) {
        PyErr_Format(PyExc_KeyError, "%.200s has no foreign key column named %R", Py_TYPE(self)->tp_name, name);
        return {};
    }
    Ref store = row.column_store();
    Ref held = store ? Ref::steal(PyObject_GetItem(store.get(), name)) : Ref();
    if (!held || held.get() == Py_None || PyLong_Check(held.get())) return held;
    return held_row_id(self, name, held.get());
}

}  // namespace brx
