// CNXGuard's static statement methods and the module functions: their signatures and the bodies that run them.
#pragma once

#include "frame/function.hpp"

namespace brx {

namespace sig {
inline constexpr Signature guard_select{
    .owner = "CNXGuard", .name = "Select", .kind = Kind::Static,
    .params = {{{"id"}, {"table"}, {"_class"}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref guard_select(Bound<sig::guard_select> args);

namespace sig {
inline constexpr Signature guard_select_foreign_attr{
    .owner = "CNXGuard", .name = "SelectForeignAttr", .kind = Kind::Static,
    .params = {{{"foreign_id"}, {"foreign_column"}, {"foreign_table"}, {"_class", kNone}, {"cnx", kNone}, {"pool", kNone}}},
    .doc = "We don't implement this method, since it's not a good idea to cache multi foreign attribute table.",
};
}  // namespace sig
Ref guard_select_foreign_attr(Bound<sig::guard_select_foreign_attr> args);

namespace sig {
inline constexpr Signature guard_insert{
    .owner = "CNXGuard", .name = "Insert", .kind = Kind::Static,
    .params = {{{"table"}, {"column_names"}, {"column_values"}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref guard_insert(Bound<sig::guard_insert> args);

namespace sig {
inline constexpr Signature guard_delete{
    .owner = "CNXGuard", .name = "Delete", .kind = Kind::Static,
    .params = {{{"id"}, {"table"}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref guard_delete(Bound<sig::guard_delete> args);

namespace sig {
inline constexpr Signature guard_alter_auto_increment{
    .owner = "CNXGuard", .name = "AlterAutoIncrement", .kind = Kind::Static,
    .params = {{{"table"}, {"value", Default::One}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref guard_alter_auto_increment(Bound<sig::guard_alter_auto_increment> args);

namespace sig {
inline constexpr Signature guard_clear_table{
    .owner = "CNXGuard", .name = "ClearTable", .kind = Kind::Static,
    .params = {{{"tables"}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref guard_clear_table(Bound<sig::guard_clear_table> args);

namespace sig {
inline constexpr Signature get_table_names{
    .owner = nullptr, .name = "GetTableNames", .kind = Kind::Function,
    .params = {{{"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref get_table_names(Bound<sig::get_table_names> args);

namespace sig {
inline constexpr Signature get_create_table_statement{
    .owner = nullptr, .name = "GetCreateTableStatement", .kind = Kind::Function,
    .params = {{{"table"}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref get_create_table_statement(Bound<sig::get_create_table_statement> args);

namespace sig {
inline constexpr Signature execute{
    .owner = nullptr, .name = "Execute", .kind = Kind::Function,
    .params = {{{"statement"}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref execute(Bound<sig::execute> args);

namespace sig {
inline constexpr Signature query{
    .owner = nullptr, .name = "Query", .kind = Kind::Function,
    .params = {{{"statement"}, {"params", kNone}, {"_class", kNone}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref query(Bound<sig::query> args);

}  // namespace brx
