// The methods of ColumnAttribute, MultiForeignAttr and TableBase: their signatures and the bodies that run them.
#pragma once

#include "frame/function.hpp"

namespace brx {

namespace sig {
inline constexpr Signature column_attribute_init{
    .owner = "ColumnAttribute", .name = "__init__", .kind = Kind::Method,
    .params = {{{"self"}, {"name"}, {"default", kNone}, {"isForeignKey", Default::False}, {"foreignTableName", kNone}, {"foreignClass", kNone}}},
};
}  // namespace sig
Ref column_attribute_init(Bound<sig::column_attribute_init> args);

namespace sig {
inline constexpr Signature multi_foreign_attr_init{
    .owner = "MultiForeignAttr", .name = "__init__", .kind = Kind::Method,
    .params = {{{"self"}, {"attr_name"}, {"foreign_name"}, {"foreign_attr_table"}, {"_class"}}},
};
}  // namespace sig
Ref multi_foreign_attr_init(Bound<sig::multi_foreign_attr_init> args);

namespace sig {
inline constexpr Signature table_init{
    .owner = "TableBase", .name = "__init__", .kind = Kind::Method,
    .params = {{{"self"}}},
    .star = "column_tuple",
    .starstar = "column_dict",
};
}  // namespace sig
Ref table_init(Bound<sig::table_init> args);

namespace sig {
inline constexpr Signature table_is_foreign{
    .owner = "TableBase", .name = "__is_foreign", .kind = Kind::Method,
    .params = {{{"self"}, {"name"}}},
};
}  // namespace sig
Ref table_is_foreign(Bound<sig::table_is_foreign> args);

namespace sig {
inline constexpr Signature table_is_foreign_key{
    .owner = "TableBase", .name = "__is_foreign_key", .kind = Kind::Method,
    .params = {{{"self"}, {"name"}}},
};
}  // namespace sig
Ref table_is_foreign_key(Bound<sig::table_is_foreign_key> args);

namespace sig {
inline constexpr Signature table_get_default{
    .owner = "TableBase", .name = "__get_default", .kind = Kind::Method,
    .params = {{{"self"}, {"name"}}},
};
}  // namespace sig
Ref table_get_default(Bound<sig::table_get_default> args);

namespace sig {
inline constexpr Signature table_get_pool{
    .owner = "TableBase", .name = "__get_pool", .kind = Kind::Method,
    .params = {{{"self"}, {"pool"}}},
};
}  // namespace sig
Ref table_get_pool(Bound<sig::table_get_pool> args);

namespace sig {
inline constexpr Signature table_getitem{
    .owner = "TableBase", .name = "__getitem__", .kind = Kind::Method,
    .params = {{{"self"}, {"name"}}},
};
}  // namespace sig
Ref table_getitem(Bound<sig::table_getitem> args);

namespace sig {
inline constexpr Signature table_setitem{
    .owner = "TableBase", .name = "__setitem__", .kind = Kind::Method,
    .params = {{{"self"}, {"name"}, {"value"}}},
};
}  // namespace sig
Ref table_setitem(Bound<sig::table_setitem> args);

namespace sig {
inline constexpr Signature table_getstate{
    .owner = "TableBase", .name = "__getstate__", .kind = Kind::Method,
    .params = {{{"self"}}},
};
}  // namespace sig
Ref table_getstate(Bound<sig::table_getstate> args);

namespace sig {
inline constexpr Signature table_setstate{
    .owner = "TableBase", .name = "__setstate__", .kind = Kind::Method,
    .params = {{{"self"}, {"state"}}},
};
}  // namespace sig
Ref table_setstate(Bound<sig::table_setstate> args);

namespace sig {
inline constexpr Signature table_reduce{
    .owner = "TableBase", .name = "__reduce__", .kind = Kind::Method,
    .params = {{{"self"}}},
};
}  // namespace sig
Ref table_reduce(Bound<sig::table_reduce> args);

namespace sig {
inline constexpr Signature table_get_foreigns{
    .owner = "TableBase", .name = "__get_foreigns", .kind = Kind::Method,
    .params = {{{"self"}}},
};
}  // namespace sig
Ref table_get_foreigns(Bound<sig::table_get_foreigns> args);

namespace sig {
inline constexpr Signature table_fill_foreign{
    .owner = "TableBase", .name = "FillForeign", .kind = Kind::Method,
    .params = {{{"self"}, {"deep", Default::True}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref table_fill_foreign(Bound<sig::table_fill_foreign> args);

namespace sig {
inline constexpr Signature table_insert{
    .owner = "TableBase", .name = "Insert", .kind = Kind::Method,
    .params = {{{"self"}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref table_insert(Bound<sig::table_insert> args);

namespace sig {
inline constexpr Signature table_insert_multi_foreign_attr{
    .owner = "TableBase", .name = "__insert_multi_foreign_attr", .kind = Kind::Method,
    .params = {{{"self"}, {"cnx"}}},
};
}  // namespace sig
Ref table_insert_multi_foreign_attr(Bound<sig::table_insert_multi_foreign_attr> args);

namespace sig {
inline constexpr Signature table_delete_multi_foreign_attr{
    .owner = "TableBase", .name = "__delete_multi_foreign_attr", .kind = Kind::Method,
    .params = {{{"self"}, {"cnx"}}},
};
}  // namespace sig
Ref table_delete_multi_foreign_attr(Bound<sig::table_delete_multi_foreign_attr> args);

namespace sig {
inline constexpr Signature table_delete{
    .owner = "TableBase", .name = "Delete", .kind = Kind::Method,
    .params = {{{"self"}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref table_delete(Bound<sig::table_delete> args);

namespace sig {
inline constexpr Signature table_column_value_for_update{
    .owner = "TableBase", .name = "__column_value_for_update", .kind = Kind::Method,
    .params = {{{"self"}, {"column_name"}}},
};
}  // namespace sig
Ref table_column_value_for_update(Bound<sig::table_column_value_for_update> args);

namespace sig {
inline constexpr Signature table_update{
    .owner = "TableBase", .name = "Update", .kind = Kind::Method,
    .params = {{{"self"}, {"update_multi_foreign", Default::True}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref table_update(Bound<sig::table_update> args);

namespace sig {
inline constexpr Signature table_foreign_id{
    .owner = "TableBase", .name = "ForeignId", .kind = Kind::Method,
    .params = {{{"self"}, {"name"}}},
};
}  // namespace sig
Ref table_foreign_id(Bound<sig::table_foreign_id> args);

namespace sig {
inline constexpr Signature fill_foreign_many{
    .owner = nullptr, .name = "FillForeignMany", .kind = Kind::Function,
    .params = {{{"rows"}, {"paths"}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref fill_foreign_many(Bound<sig::fill_foreign_many> args);

namespace sig {
inline constexpr Signature insert_many{
    .owner = nullptr, .name = "InsertMany", .kind = Kind::Function,
    .params = {{{"rows"}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref insert_many(Bound<sig::insert_many> args);

}  // namespace brx
