// ColumnAttribute and MultiForeignAttr: plain attribute holders that describe
// columns and multi-foreign attributes of row classes (settings objects).
#include "rows/row_methods.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {
bool set(PyObject* self, PyObject* name, PyObject* value) { return PyObject_SetAttr(self, name, value) == 0; }
}  // namespace

Ref column_attribute_init(Bound<sig::column_attribute_init> args) {
    PyObject* self = args.get<"self">();
    PyObject* name = args.get<"name">();
    PyObject* is_foreign_key = args.get<"isForeignKey">();
    if (!set(self, py::name(), name) || !set(self, py::default_(), args.get<"default">()) ||
        !set(self, py::isForeignKey(), is_foreign_key))
        return {};
    const int foreign = truth(is_foreign_key);
    if (foreign <= 0) return foreign < 0 ? Ref() : none();
    PyObject* table = args.get<"foreignTableName">() != Py_None ? args.get<"foreignTableName">() : name;
    if (!set(self, py::foreignTableName(), table) || !set(self, py::foreignClass(), args.get<"foreignClass">())) return {};
    return none();
}

Ref multi_foreign_attr_init(Bound<sig::multi_foreign_attr_init> args) {
    PyObject* self = args.get<"self">();
    if (!set(self, py::attr_name(), args.get<"attr_name">()) || !set(self, py::foreign_name(), args.get<"foreign_name">()) ||
        !set(self, py::foreign_attr_table(), args.get<"foreign_attr_table">()) || !set(self, py::_class(), args.get<"_class">()))
        return {};
    return none();
}

}  // namespace brx
