// Temporary: bodies not written yet raise NotImplementedError.
#include "statements/bodies.hpp"

namespace brx {
namespace {
Ref not_written() {
    PyErr_SetString(PyExc_NotImplementedError, "not written yet");
    return {};
}
}  // namespace

Ref guard_select(const Args&) { return not_written(); }
Ref guard_select_foreign_attr(const Args&) { return not_written(); }
Ref guard_insert(const Args&) { return not_written(); }
Ref guard_delete(const Args&) { return not_written(); }
Ref guard_alter_auto_increment(const Args&) { return not_written(); }
Ref guard_clear_table(const Args&) { return not_written(); }
Ref get_table_names(const Args&) { return not_written(); }
Ref get_create_table_statement(const Args&) { return not_written(); }
Ref execute(const Args&) { return not_written(); }
}  // namespace brx
