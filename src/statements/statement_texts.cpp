#include "statements/statement_texts.hpp"

#include "module/names.hpp"
#include "statements/compose.hpp"

namespace brx {
namespace {
// format % (quoted table, *rest)
Ref with_table(PyObject* format, PyObject* table) {
    Ref name = quoted_name(table);
    if (!name) return {};
    return compose(format, {name.get()});
}

Ref with_table(PyObject* format, PyObject* table, PyObject* operand) {
    Ref name = quoted_name(table);
    if (!name) return {};
    return compose(format, {name.get(), operand});
}
// format % (quoted table, quoted column, id)
Ref with_table_and_column(PyObject* format, PyObject* table, PyObject* column, PyObject* id) {
    Ref table_name = quoted_name(table);
    if (!table_name) return {};
    Ref column_name = quoted_name(column);
    if (!column_name) return {};
    return compose(format, {table_name.get(), column_name.get(), id});
}
}  // namespace

Ref select_by_id_text(PyObject* table, PyObject* id) {
    return with_table("SELECT * FROM `%s` WHERE id = %d"_id, table, id);
}

Ref insert_text(PyObject* table, Py_ssize_t column_count) {
    if (column_count == 1) return with_table("INSERT INTO `%s` VALUES (%%s)"_id, table);
    Ref markers = Ref::steal(PySequence_Repeat(", %s"_id, column_count - 1));
    if (!markers) return {};
    return with_table("INSERT INTO `%s` VALUES (%%s%s)"_id, table, markers.get());
}

Ref delete_by_id_text(PyObject* table) { return with_table("DELETE FROM `%s` WHERE id = %%s"_id, table); }

Ref alter_auto_increment_text(PyObject* table, PyObject* value) {
    return with_table("ALTER TABLE `%s` AUTO_INCREMENT = %d"_id, table, value);
}

Ref delete_all_text(PyObject* table) { return with_table("DELETE FROM `%s`"_id, table); }

Ref show_create_table_text(PyObject* table) { return with_table("SHOW CREATE TABLE `%s`"_id, table); }

Ref select_all_text(PyObject* table) { return with_table("SELECT * FROM `%s`"_id, table); }

Ref select_by_column_text(PyObject* table, PyObject* column, PyObject* id) {
    return with_table_and_column("SELECT * FROM `%s` WHERE `%s` = %d"_id, table, column, id);
}

Ref delete_by_column_text(PyObject* table, PyObject* column, PyObject* id) {
    return with_table_and_column("DELETE FROM `%s` WHERE `%s` = %d"_id, table, column, id);
}

}  // namespace brx
