// Every callable of the module, in the order of its class's namespace (module
// functions last): the classes and functions are built from this table. Each
// signature is declared beside its body in the subsystem's *_methods.hpp.
#include "cache/cache_methods.hpp"
#include "connections/pool_guard_methods.hpp"
#include "module/classes.hpp"
#include "rows/row_methods.hpp"
#include "statements/statement_methods.hpp"

namespace brx {
namespace {

const CallableEntry kCallables[] = {
    // CNXPool
    callable<sig::pool_init, pool_init>(),
    callable<sig::pool_get, pool_get>(),
    callable<sig::pool_put, pool_put>(),

    // CNXGuard
    callable<sig::guard_init, guard_init>(),
    callable<sig::guard_enter, guard_enter>(),
    callable<sig::guard_exit, guard_exit>(),
    callable<sig::guard_select, guard_select>(),
    callable<sig::guard_select_foreign_attr, guard_select_foreign_attr>(),
    callable<sig::guard_insert, guard_insert>(),
    callable<sig::guard_delete, guard_delete>(),
    callable<sig::guard_alter_auto_increment, guard_alter_auto_increment>(),
    callable<sig::guard_clear_table, guard_clear_table>(),

    // Cache
    callable<sig::cache_init, cache_init>(),
    callable<sig::cache_get_pool, cache_get_pool>(),
    callable<sig::cache_set_pool, cache_set_pool>(),
    callable<sig::cache_select, cache_select>(),
    callable<sig::cache_delete, cache_delete>(),
    callable<sig::cache_insert, cache_insert>(),
    callable<sig::cache_cached_table, cache_cached_table>(),
    callable<sig::cache_clear_table, cache_clear_table>(),
    callable<sig::cache_cache, cache_cache>(),
    callable<sig::cache_refresh, cache_refresh>(),
    callable<sig::cache_tables, cache_tables>(),
    callable<sig::cache_update, cache_update>(),

    // ColumnAttribute
    callable<sig::column_attribute_init, column_attribute_init>(),

    // MultiForeignAttr
    callable<sig::multi_foreign_attr_init, multi_foreign_attr_init>(),

    // TableBase
    callable<sig::table_init, table_init>(),
    callable<sig::table_is_foreign, table_is_foreign>(),
    callable<sig::table_is_foreign_key, table_is_foreign_key>(),
    callable<sig::table_get_default, table_get_default>(),
    callable<sig::table_get_pool, table_get_pool>(),
    callable<sig::table_getitem, table_getitem>(),
    callable<sig::table_setitem, table_setitem>(),
    callable<sig::table_getstate, table_getstate>(),
    callable<sig::table_setstate, table_setstate>(),
    callable<sig::table_reduce, table_reduce>(),
    callable<sig::table_get_foreigns, table_get_foreigns>(),
    callable<sig::table_fill_foreign, table_fill_foreign>(),
    callable<sig::table_insert, table_insert>(),
    callable<sig::table_insert_multi_foreign_attr, table_insert_multi_foreign_attr>(),
    callable<sig::table_delete_multi_foreign_attr, table_delete_multi_foreign_attr>(),
    callable<sig::table_delete, table_delete>(),
    callable<sig::table_column_value_for_update, table_column_value_for_update>(),
    callable<sig::table_update, table_update>(),
    callable<sig::table_foreign_id, table_foreign_id>(),

    // Module functions
    callable<sig::get_table_names, get_table_names>(),
    callable<sig::get_create_table_statement, get_create_table_statement>(),
    callable<sig::execute, execute>(),
    callable<sig::query, query>(),
    callable<sig::fill_foreign_many, fill_foreign_many>(),
    callable<sig::insert_many, insert_many>(),
};

}  // namespace

std::span<const CallableEntry> all_callables() { return kCallables; }

}  // namespace brx
