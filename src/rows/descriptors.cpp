// ColumnAttribute and MultiForeignAttr: plain attribute holders that describe
// columns and list attributes of row classes.
#include "rows/row_methods.hpp"

#include "module/calls.hpp"
#include "module/names.hpp"

namespace brx {
namespace {
bool set(PyObject* self, PyObject* name, PyObject* value) { return PyObject_SetAttr(self, name, value) == 0; }
}  // namespace

Ref column_attribute_init(Bound<sig::column_attribute_init> args) {
    PyObject* self = args.get<"self">();
    PyObject* name = args.get<"name">();
    PyObject* is_foreign_key = args.get<"isForeignKey">();
    if (!set(self, "name"_id, name) || !set(self, "default"_id, args.get<"default">()) ||
        !set(self, "isForeignKey"_id, is_foreign_key))
        return {};
    const int foreign = truth(is_foreign_key);
    if (foreign <= 0) return foreign < 0 ? Ref() : none();
    PyObject* table = args.get<"foreignTableName">() != Py_None ? args.get<"foreignTableName">() : name;
    if (!set(self, "foreignTableName"_id, table) || !set(self, "foreignClass"_id, args.get<"foreignClass">())) return {};
    return none();
}

Ref multi_foreign_attr_init(Bound<sig::multi_foreign_attr_init> args) {
    PyObject* self = args.get<"self">();
    if (!set(self, "attr_name"_id, args.get<"attr_name">()) || !set(self, "foreign_name"_id, args.get<"foreign_name">()) ||
        !set(self, "foreign_attr_table"_id, args.get<"foreign_attr_table">()) || !set(self, "_class"_id, args.get<"_class">()))
        return {};
    return none();
}

}  // namespace brx
