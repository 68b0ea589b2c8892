// Every callable of the module, declared once: owner, name, parameters with
// their defaults, star parameters, body, docstring. Methods appear in the order
// of their class's namespace; the classes and functions are built from this.
#include "cache/bodies.hpp"
#include "connections/bodies.hpp"
#include "rows/bodies.hpp"
#include "statements/bodies.hpp"

namespace brx {
namespace {

constexpr Default kNone = Default::None;

constexpr const char* kSelectForeignAttrDoc =
    "We don't implement this method, since it's not a good idea to cache multi foreign attribute table.";

const Spec kSpecs[] = {
    // CNXPool
    {"CNXPool", "__init__", Kind::Method, {{{"self"}}}, false, true, pool_init},
    {"CNXPool", "Get", Kind::Method, {{{"self"}}}, false, false, pool_get},
    {"CNXPool", "Put", Kind::Method, {{{"self"}, {"connection"}}}, false, false, pool_put},

    // CNXGuard
    {"CNXGuard", "__init__", Kind::Method, {{{"self"}, {"cnx", kNone}, {"pool", kNone}}}, false, false, guard_init},
    {"CNXGuard", "__enter__", Kind::Method, {{{"self"}}}, false, false, guard_enter},
    {"CNXGuard", "__exit__", Kind::Method,
     {{{"self"}, {"exception_type"}, {"exception_value"}, {"exception_traceback"}}}, false, false, guard_exit},
    {"CNXGuard", "Select", Kind::Static,
     {{{"id"}, {"table"}, {"_class"}, {"cnx", kNone}, {"pool", kNone}}}, false, false, guard_select},
    {"CNXGuard", "SelectForeignAttr", Kind::Static,
     {{{"foreign_id"}, {"foreign_column"}, {"foreign_table"}, {"_class", kNone}, {"cnx", kNone}, {"pool", kNone}}},
     false, false, guard_select_foreign_attr, kSelectForeignAttrDoc},
    {"CNXGuard", "Insert", Kind::Static,
     {{{"table"}, {"column_names"}, {"column_values"}, {"cnx", kNone}, {"pool", kNone}}}, false, false,
     guard_insert},
    {"CNXGuard", "Delete", Kind::Static, {{{"id"}, {"table"}, {"cnx", kNone}, {"pool", kNone}}}, false, false,
     guard_delete},
    {"CNXGuard", "AlterAutoIncrement", Kind::Static,
     {{{"table"}, {"value", Default::One}, {"cnx", kNone}, {"pool", kNone}}}, false, false,
     guard_alter_auto_increment},
    {"CNXGuard", "ClearTable", Kind::Static, {{{"tables"}, {"cnx", kNone}, {"pool", kNone}}}, false, false,
     guard_clear_table},

    // Cache
    {"Cache", "__init__", Kind::Method, {{{"self"}, {"pool", kNone}}}, false, false, cache_init},
    {"Cache", "__get_pool", Kind::Method, {{{"self"}, {"pool"}}}, false, false, cache_get_pool},
    {"Cache", "SetPool", Kind::Method, {{{"self"}, {"pool"}}}, false, false, cache_set_pool},
    {"Cache", "Select", Kind::Method,
     {{{"self"}, {"id"}, {"table"}, {"_class", kNone}, {"cnx", kNone}, {"pool", kNone}}}, false, false,
     cache_select},
    {"Cache", "Delete", Kind::Method, {{{"self"}, {"obj"}, {"table", kNone}, {"cnx", kNone}, {"pool", kNone}}},
     false, false, cache_delete},
    {"Cache", "Insert", Kind::Method, {{{"self"}, {"obj"}, {"table", kNone}, {"cnx", kNone}, {"pool", kNone}}},
     false, false, cache_insert},
    {"Cache", "CachedTable", Kind::Method, {{{"self"}, {"table"}}}, false, false, cache_cached_table},
    {"Cache", "ClearTable", Kind::Method, {{{"self"}, {"table"}}}, false, false, cache_clear_table},
    {"Cache", "Cache", Kind::Method, {{{"self"}, {"table"}, {"_class", kNone}, {"cnx", kNone}, {"pool", kNone}}},
     false, false, cache_cache},
    {"Cache", "Refresh", Kind::Method,
     {{{"self"}, {"table"}, {"clear", Default::True}, {"cnx", kNone}, {"pool", kNone}}}, false, false,
     cache_refresh},
    {"Cache", "Tables", Kind::Method, {{{"self"}}}, false, false, cache_tables},
    {"Cache", "Update", Kind::Method, {{{"self"}, {"table"}, {"cnx", kNone}, {"pool", kNone}}}, false, false,
     cache_update},

    // ColumnAttribute, MultiForeignAttr
    {"ColumnAttribute", "__init__", Kind::Method,
     {{{"self"},
       {"name"},
       {"default", kNone},
       {"isForeignKey", Default::False},
       {"foreignTableName", kNone},
       {"foreignClass", kNone}}},
     false, false, column_attribute_init},
    {"MultiForeignAttr", "__init__", Kind::Method,
     {{{"self"}, {"attr_name"}, {"foreign_name"}, {"foreign_attr_table"}, {"_class"}}}, false, false,
     multi_foreign_attr_init},

    // TableBase
    {"TableBase", "__init__", Kind::Method, {{{"self"}}}, true, true, table_init},
    {"TableBase", "__is_foreign", Kind::Method, {{{"self"}, {"name"}}}, false, false, table_is_foreign},
    {"TableBase", "__is_foreign_key", Kind::Method, {{{"self"}, {"name"}}}, false, false, table_is_foreign_key},
    {"TableBase", "__get_default", Kind::Method, {{{"self"}, {"name"}}}, false, false, table_get_default},
    {"TableBase", "__get_pool", Kind::Method, {{{"self"}, {"pool"}}}, false, false, table_get_pool},
    {"TableBase", "__getitem__", Kind::Method, {{{"self"}, {"name"}}}, false, false, table_getitem},
    {"TableBase", "__setitem__", Kind::Method, {{{"self"}, {"name"}, {"value"}}}, false, false, table_setitem},
    {"TableBase", "__get_foreigns", Kind::Method, {{{"self"}}}, false, false, table_get_foreigns},
    {"TableBase", "FillForeign", Kind::Method,
     {{{"self"}, {"deep", Default::True}, {"cnx", kNone}, {"pool", kNone}}}, false, false, table_fill_foreign},
    {"TableBase", "Insert", Kind::Method, {{{"self"}, {"cnx", kNone}, {"pool", kNone}}}, false, false,
     table_insert},
    {"TableBase", "__insert_multi_foreign_attr", Kind::Method, {{{"self"}, {"cnx"}}}, false, false,
     table_insert_multi_foreign_attr},
    {"TableBase", "__delete_multi_foreign_attr", Kind::Method, {{{"self"}, {"cnx"}}}, false, false,
     table_delete_multi_foreign_attr},
    {"TableBase", "Delete", Kind::Method, {{{"self"}, {"cnx", kNone}, {"pool", kNone}}}, false, false,
     table_delete},
    {"TableBase", "__column_value_for_update", Kind::Method, {{{"self"}, {"column_name"}}}, false, false,
     table_column_value_for_update},
    {"TableBase", "Update", Kind::Method,
     {{{"self"}, {"update_multi_foreign", Default::True}, {"cnx", kNone}, {"pool", kNone}}}, false, false,
     table_update},

    // Module functions
    {nullptr, "GetTableNames", Kind::Function, {{{"cnx", kNone}, {"pool", kNone}}}, false, false,
     get_table_names},
    {nullptr, "GetCreateTableStatement", Kind::Function, {{{"table"}, {"cnx", kNone}, {"pool", kNone}}}, false,
     false, get_create_table_statement},
    {nullptr, "Execute", Kind::Function, {{{"statement"}, {"cnx", kNone}, {"pool", kNone}}}, false, false,
     execute},
};

}  // namespace

std::span<const Spec> all_specs() { return kSpecs; }

}  // namespace brx
