// The texts of the statements the module sends. Each takes the
// table name as given and writes it through quoted_name(); identifiers written
// into the text must be integers (see require_integer_id) and follow the "%d"
// conversion.
#pragma once

#include "support/ref.hpp"

namespace brx {

// An identifier about to go into a statement must be an integer (an int, or
// a number with __index__): "%d" would write 1.9 as 1 and so address another
// row, and a str such as "2", straight from a URL, is no number at all.
// Anything else raises TypeError "id must be an integer, not str ('2'), in
// CNXGuard.Select: ...", naming `call` (the operation the caller called) when
// given. The texts below check their identifiers too, naming no call: the
// operations check first, so that the message names them.
bool require_integer_id(PyObject* id, const char* call, const char* what = "id");

// SELECT * FROM `t` WHERE id = 7
Ref select_by_id_text(PyObject* table, PyObject* id);
// INSERT INTO `t` VALUES (%s, %s, ...) with `column_count` (>= 1) markers
Ref insert_text(PyObject* table, Py_ssize_t column_count);
// INSERT INTO `t` VALUES (%s, %s), (%s, %s) RETURNING id with `column_count`
// (>= 1) markers per row and `row_count` (>= 1) rows
Ref insert_returning_ids_text(PyObject* table, Py_ssize_t column_count, Py_ssize_t row_count);
// SAVEPOINT brx_sql_2 and ROLLBACK TO SAVEPOINT brx_sql_2: a savepoint named
// after the depth of nesting, so that a call inside a call on the same
// connection never replaces the outer call's savepoint.
Ref savepoint_text(int depth);
Ref rollback_to_savepoint_text(int depth);
// DELETE FROM `t` WHERE id = %s  (the identifier travels as a parameter)
Ref delete_by_id_text(PyObject* table);
// ALTER TABLE `t` AUTO_INCREMENT = 1
Ref alter_auto_increment_text(PyObject* table, PyObject* value);
// DELETE FROM `t`
Ref delete_all_text(PyObject* table);
// SHOW CREATE TABLE `t`
Ref show_create_table_text(PyObject* table);
// SELECT * FROM `t`
Ref select_all_text(PyObject* table);
// SELECT * FROM `t` WHERE `c` = 7
Ref select_by_column_text(PyObject* table, PyObject* column, PyObject* id);
// DELETE FROM `t` WHERE `c` = 7, or with a non-empty list `kept` of
// identifiers: DELETE FROM `t` WHERE `c` = 7 AND id NOT IN (3, 5)
Ref delete_by_column_text(PyObject* table, PyObject* column, PyObject* id, PyObject* kept = nullptr);
// SELECT id FROM `t` WHERE `c` = 7, with `kept` as for delete_by_column_text
Ref select_ids_by_column_text(PyObject* table, PyObject* column, PyObject* id, PyObject* kept = nullptr);
// SELECT * FROM `t` WHERE id IN (3, 5), `ids` the list text "3, 5" made of
// decimal integers by the caller (never of arbitrary objects)
Ref select_by_ids_text(PyObject* table, PyObject* ids);
// SELECT * FROM `t` WHERE `c` IN (3, 5) ORDER BY id, `ids` as above
Ref select_by_column_in_text(PyObject* table, PyObject* column, PyObject* ids);

}  // namespace brx
