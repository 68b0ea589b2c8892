// Every Python-visible name the module reads or writes, each with the one
// accessor every use goes through: `py::row_column_values()` is
// "_TableBase__column_values". Private names appear under their mangled
// spelling, with the class prefix turned into a short one (row_, guard_,
// pool_, cache_); special methods as dunder_<name>.
#pragma once

#include "support/names.hpp"

namespace brx::py {

// Private attributes and methods, under their class-mangled names.
inline PyObject* cache_class_dict() { return "_Cache__class_dict"_id; }
inline PyObject* cache_get_pool() { return "_Cache__get_pool"_id; }
inline PyObject* cache_obj_dict() { return "_Cache__obj_dict"_id; }
inline PyObject* cache_pool() { return "_Cache__pool"_id; }
inline PyObject* guard_cnx() { return "_CNXGuard__cnx"_id; }
inline PyObject* guard_committed() { return "_CNXGuard__committed"_id; }
inline PyObject* guard_need_put() { return "_CNXGuard__need_put"_id; }
inline PyObject* guard_pool() { return "_CNXGuard__pool"_id; }
inline PyObject* pool_dbconfig() { return "_CNXPool__dbconfig"_id; }
inline PyObject* pool_lock() { return "_CNXPool__lock"_id; }
inline PyObject* pool_pool() { return "_CNXPool__pool"_id; }
inline PyObject* pool_returned() { return "_CNXPool__returned"_id; }
inline PyObject* row_column_value_for_update() { return "_TableBase__column_value_for_update"_id; }
inline PyObject* row_column_values() { return "_TableBase__column_values"_id; }
inline PyObject* row_delete_multi_foreign_attr() { return "_TableBase__delete_multi_foreign_attr"_id; }
inline PyObject* row_get_default() { return "_TableBase__get_default"_id; }
inline PyObject* row_get_foreigns() { return "_TableBase__get_foreigns"_id; }
inline PyObject* row_get_pool() { return "_TableBase__get_pool"_id; }
inline PyObject* row_insert_multi_foreign_attr() { return "_TableBase__insert_multi_foreign_attr"_id; }
inline PyObject* row_is_foreign_key() { return "_TableBase__is_foreign_key"_id; }

// Class settings of row classes and the guard.
inline PyObject* CACHE() { return "CACHE"_id; }
inline PyObject* TableBase() { return "TableBase"_id; }
inline PyObject* COLUMN_ATTRIBUTES() { return "COLUMN_ATTRIBUTES"_id; }
inline PyObject* COLUMN_NAMES() { return "COLUMN_NAMES"_id; }
inline PyObject* MULTI_FOREIGN_ATTR() { return "MULTI_FOREIGN_ATTR"_id; }
inline PyObject* POOL() { return "POOL"_id; }
inline PyObject* TABLE_NAME() { return "TABLE_NAME"_id; }

// Attributes of the settings objects ColumnAttribute and MultiForeignAttr.
inline PyObject* _class() { return "_class"_id; }
inline PyObject* attr_name() { return "attr_name"_id; }
inline PyObject* default_() { return "default"_id; }
inline PyObject* foreign_attr_table() { return "foreign_attr_table"_id; }
inline PyObject* foreign_name() { return "foreign_name"_id; }
inline PyObject* foreignClass() { return "foreignClass"_id; }
inline PyObject* foreignTableName() { return "foreignTableName"_id; }
inline PyObject* isForeignKey() { return "isForeignKey"_id; }
inline PyObject* name() { return "name"_id; }

// Methods and classes of the module called by name.
inline PyObject* Cache() { return "Cache"_id; }
inline PyObject* ClearTable() { return "ClearTable"_id; }
inline PyObject* CNXGuard() { return "CNXGuard"_id; }
inline PyObject* Delete() { return "Delete"_id; }
inline PyObject* FillForeign() { return "FillForeign"_id; }
inline PyObject* Get() { return "Get"_id; }
inline PyObject* Insert() { return "Insert"_id; }
inline PyObject* Put() { return "Put"_id; }
inline PyObject* MAX_IDLE() { return "MAX_IDLE"_id; }
inline PyObject* PING_AFTER() { return "PING_AFTER"_id; }
inline PyObject* Refresh() { return "Refresh"_id; }
inline PyObject* Select() { return "Select"_id; }
inline PyObject* Update() { return "Update"_id; }

// Names of the connector, its connections and cursors.
inline PyObject* _cmysql() { return "_cmysql"_id; }
inline PyObject* _connector() { return "_connector"_id; }
inline PyObject* connection_buffered() { return "_buffered"_id; }
inline PyObject* connection_raw() { return "_raw"_id; }
inline PyObject* autocommit() { return "autocommit"_id; }
inline PyObject* close() { return "close"_id; }
inline PyObject* commit() { return "commit"_id; }
inline PyObject* connect() { return "connect"_id; }
inline PyObject* cursor() { return "cursor"_id; }
inline PyObject* description() { return "description"_id; }
inline PyObject* execute() { return "execute"_id; }
inline PyObject* fetchall() { return "fetchall"_id; }
inline PyObject* in_transaction() { return "in_transaction"_id; }
inline PyObject* server_info() { return "server_info"_id; }
// The server's max_allowed_packet, kept on a connection once asked.
inline PyObject* kept_packet_limit() { return "_brx_sql_max_allowed_packet"_id; }
inline PyObject* is_connected() { return "is_connected"_id; }
inline PyObject* fetchmany() { return "fetchmany"_id; }
inline PyObject* lastrowid() { return "lastrowid"_id; }
inline PyObject* nextset() { return "nextset"_id; }
inline PyObject* Error() { return "Error"_id; }
inline PyObject* InterfaceError() { return "InterfaceError"_id; }
inline PyObject* OperationalError() { return "OperationalError"_id; }
inline PyObject* rollback() { return "rollback"_id; }
inline PyObject* shutdown() { return "shutdown"_id; }
inline PyObject* use_pure() { return "use_pure"_id; }

// Module attributes, builtins and special methods.
inline PyObject* dunder_class() { return "__class__"_id; }
inline PyObject* dunder_enter() { return "__enter__"_id; }
inline PyObject* dunder_exit() { return "__exit__"_id; }
inline PyObject* dunder_getitem() { return "__getitem__"_id; }
inline PyObject* dunder_setitem() { return "__setitem__"_id; }
inline PyObject* dunder_name() { return "__name__"_id; }
inline PyObject* dunder_dict() { return "__dict__"_id; }
inline PyObject* dunder_getstate() { return "__getstate__"_id; }
inline PyObject* dunder_newobj() { return "__newobj__"_id; }
inline PyObject* dunder_version() { return "__version__"_id; }
inline PyObject* errno_() { return "errno"_id; }
inline PyObject* exc_info() { return "exc_info"_id; }
inline PyObject* _Lock() { return "_Lock"_id; }
inline PyObject* append() { return "append"_id; }
inline PyObject* AttributeError() { return "AttributeError"_id; }
inline PyObject* brx_sql() { return "brx_sql"_id; }
inline PyObject* copy() { return "copy"_id; }
inline PyObject* copyreg() { return "copyreg"_id; }
inline PyObject* slotnames() { return "_slotnames"_id; }
inline PyObject* id() { return "id"_id; }
inline PyObject* insert() { return "insert"_id; }
inline PyObject* items() { return "items"_id; }
inline PyObject* KeyError() { return "KeyError"_id; }
inline PyObject* keys() { return "keys"_id; }
inline PyObject* Lock() { return "Lock"_id; }
inline PyObject* lower() { return "lower"_id; }
inline PyObject* pop() { return "pop"_id; }
inline PyObject* select() { return "select"_id; }
inline PyObject* setdefault() { return "setdefault"_id; }
inline PyObject* show() { return "show"_id; }
inline PyObject* split() { return "split"_id; }
inline PyObject* staticmethod() { return "staticmethod"_id; }
inline PyObject* ValueError() { return "ValueError"_id; }
inline PyObject* update() { return "update"_id; }
inline PyObject* warning() { return "warning"_id; }
inline PyObject* zip() { return "zip"_id; }

// The logging module and the statement log.
inline PyObject* DEBUG() { return "DEBUG"_id; }
inline PyObject* getLogger() { return "getLogger"_id; }
inline PyObject* isEnabledFor() { return "isEnabledFor"_id; }
inline PyObject* LOG_PARAMETERS() { return "LOG_PARAMETERS"_id; }
inline PyObject* debug() { return "debug"_id; }
inline PyObject* find_spec() { return "find_spec"_id; }
inline PyObject* _mysql_connector() { return "_mysql_connector"_id; }

// The connector's errors and its C extension's own.
inline PyObject* get_mysql_exception() { return "get_mysql_exception"_id; }
inline PyObject* msg() { return "msg"_id; }
inline PyObject* MySQLError() { return "MySQLError"_id; }
inline PyObject* MySQLInterfaceError() { return "MySQLInterfaceError"_id; }
inline PyObject* sqlstate() { return "sqlstate"_id; }

}  // namespace brx::py
