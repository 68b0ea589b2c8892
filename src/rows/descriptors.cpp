// ColumnAttribute and MultiForeignAttr: plain attribute holders that describe
// columns and list attributes of row classes.
#include "rows/bodies.hpp"

#include "module/calls.hpp"
#include "module/names.hpp"

namespace brx {
namespace {
bool set(PyObject* self, PyObject* name, PyObject* value) { return PyObject_SetAttr(self, name, value) == 0; }
}  // namespace

Ref column_attribute_init(const Args& args) {
    PyObject* self = args[0];
    PyObject* name = args[1];
    PyObject* is_foreign_key = args[3];
    if (!set(self, "name"_id, name) || !set(self, "default"_id, args[2]) ||
        !set(self, "isForeignKey"_id, is_foreign_key))
        return {};
    const int foreign = truth(is_foreign_key);
    if (foreign <= 0) return foreign < 0 ? Ref() : none();
    PyObject* table = args[4] != Py_None ? args[4] : name;
    if (!set(self, "foreignTableName"_id, table) || !set(self, "foreignClass"_id, args[5])) return {};
    return none();
}

Ref multi_foreign_attr_init(const Args& args) {
    PyObject* self = args[0];
    if (!set(self, "attr_name"_id, args[1]) || !set(self, "foreign_name"_id, args[2]) ||
        !set(self, "foreign_attr_table"_id, args[3]) || !set(self, "_class"_id, args[4]))
        return {};
    return none();
}

}  // namespace brx
