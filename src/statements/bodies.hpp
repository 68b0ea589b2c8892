// Bodies of the static statement operations and the module functions.
#pragma once

#include "module/function.hpp"

namespace brx {
Ref guard_select(const Args& args);
Ref guard_select_foreign_attr(const Args& args);
Ref guard_insert(const Args& args);
Ref guard_delete(const Args& args);
Ref guard_alter_auto_increment(const Args& args);
Ref guard_clear_table(const Args& args);

Ref get_table_names(const Args& args);
Ref get_create_table_statement(const Args& args);
Ref execute(const Args& args);
}  // namespace brx
