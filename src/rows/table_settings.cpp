// The private helpers of TableBase that read the class configuration.
#include "rows/foreign_flag.hpp"
#include "rows/row_methods.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"


namespace brx {
namespace {

// The flag of column `name` of `self`, as it is stored.
Ref flag_of(PyObject* self, PyObject* name) {
    Ref attributes = get_attr(self, py::COLUMN_ATTRIBUTES());
    return attributes ? foreign_flag(attributes.get(), name) : Ref();
}

}  // namespace

Ref table_is_foreign(Bound<sig::table_is_foreign> args) { return flag_of(args.get<"self">(), args.get<"name">()); }

Ref table_is_foreign_key(Bound<sig::table_is_foreign_key> args) { return flag_of(args.get<"self">(), args.get<"name">()); }

Ref table_get_pool(Bound<sig::table_get_pool> args) { return pool_or_default(args.get<"pool">(), args.get<"self">(), py::POOL()); }

Ref table_get_foreigns(Bound<sig::table_get_foreigns> args) { return declared_foreign_keys(args.get<"self">()); }

}  // namespace brx
