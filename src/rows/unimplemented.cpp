// Temporary: bodies not written yet raise NotImplementedError.
#include "rows/bodies.hpp"

namespace brx {
namespace {
Ref not_written() {
    PyErr_SetString(PyExc_NotImplementedError, "not written yet");
    return {};
}
}  // namespace

Ref column_attribute_init(const Args&) { return not_written(); }
Ref multi_foreign_attr_init(const Args&) { return not_written(); }
Ref table_init(const Args&) { return not_written(); }
Ref table_is_foreign(const Args&) { return not_written(); }
Ref table_is_foreign_key(const Args&) { return not_written(); }
Ref table_get_default(const Args&) { return not_written(); }
Ref table_get_pool(const Args&) { return not_written(); }
Ref table_getitem(const Args&) { return not_written(); }
Ref table_setitem(const Args&) { return not_written(); }
Ref table_get_foreigns(const Args&) { return not_written(); }
Ref table_fill_foreign(const Args&) { return not_written(); }
Ref table_insert(const Args&) { return not_written(); }
Ref table_insert_multi_foreign_attr(const Args&) { return not_written(); }
Ref table_delete_multi_foreign_attr(const Args&) { return not_written(); }
Ref table_delete(const Args&) { return not_written(); }
Ref table_column_value_for_update(const Args&) { return not_written(); }
Ref table_update(const Args&) { return not_written(); }
}  // namespace brx
