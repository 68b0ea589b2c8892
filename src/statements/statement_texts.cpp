#include "statements/statement_texts.hpp"

#include "statements/quoted_name.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"

namespace brx {
namespace {
// format % (quoted table, *rest)
Ref with_table(PyObject* text_format, PyObject* table) {
    Ref name = quoted_name(table);
    if (!name) return {};
    return format(text_format, {name.get()});
}

Ref with_table(PyObject* text_format, PyObject* table, PyObject* operand) {
    Ref name = quoted_name(table);
    if (!name) return {};
    return format(text_format, {name.get(), operand});
}
// format % (quoted table, quoted column, operand)
Ref with_table_and_column(PyObject* text_format, PyObject* table, PyObject* column, PyObject* operand) {
    Ref table_name = quoted_name(table);
    if (!table_name) return {};
    Ref column_name = quoted_name(column);
    if (!column_name) return {};
    return format(text_format, {table_name.get(), column_name.get(), operand});
}
}  // namespace

bool require_integer_id(PyObject* id, const char* call, const char* what) {
    if (PyLong_Check(id) || PyIndex_Check(id)) return true;
    PyNumberMethods* number = Py_TYPE(id)->tp_as_number;
    const bool truncated = number && (number->nb_int || number->nb_float);
    const bool text = PyUnicode_Check(id) || PyBytes_Check(id) || PyByteArray_Check(id);
    const char* reason = truncated ? ": it would be written as a truncated number"
                         : text    ? ": convert text with int() first"
                                   : "";
    if (call)
        PyErr_Format(PyExc_TypeError, "%s must be an integer, not %.200s (%.200R), in %s%s", what, Py_TYPE(id)->tp_name,
                     id, call, reason);
    else
        PyErr_Format(PyExc_TypeError, "%s must be an integer, not %.200s (%.200R)%s", what, Py_TYPE(id)->tp_name, id,
                     reason);
    return false;
}

Ref select_by_id_text(PyObject* table, PyObject* id) {
    if (!require_integer_id(id, nullptr)) return {};
    return with_table("SELECT * FROM `%s` WHERE id = %d"_id, table, id);
}

Ref insert_text(PyObject* table, Py_ssize_t column_count) {
    if (column_count == 1) return with_table("INSERT INTO `%s` VALUES (%%s)"_id, table);
    Ref markers = Ref::steal(PySequence_Repeat(", %s"_id, column_count - 1));
    if (!markers) return {};
    return with_table("INSERT INTO `%s` VALUES (%%s%s)"_id, table, markers.get());
}

Ref insert_returning_ids_text(PyObject* table, Py_ssize_t column_count, Py_ssize_t row_count) {
    Ref markers = Ref::steal(PySequence_Repeat(", %s"_id, column_count - 1));
    Ref row = markers ? format("(%%s%s)"_id, {markers.get()}) : Ref();
    Ref separated_row = row ? format(", %s"_id, {row.get()}) : Ref();
    Ref rows = separated_row ? Ref::steal(PySequence_Repeat(separated_row.get(), row_count - 1)) : Ref();
    if (!rows) return {};
    Ref values = Ref::steal(PyUnicode_Concat(row.get(), rows.get()));
    if (!values) return {};
    return with_table("INSERT INTO `%s` VALUES %s RETURNING id"_id, table, values.get());
}

Ref savepoint_text(int depth) { return Ref::steal(PyUnicode_FromFormat("SAVEPOINT brx_sql_%d", depth)); }

Ref rollback_to_savepoint_text(int depth) {
    return Ref::steal(PyUnicode_FromFormat("ROLLBACK TO SAVEPOINT brx_sql_%d", depth));
}

Ref delete_by_id_text(PyObject* table) { return with_table("DELETE FROM `%s` WHERE id = %%s"_id, table); }

Ref alter_auto_increment_text(PyObject* table, PyObject* value) {
    if (!require_integer_id(value, nullptr, "AUTO_INCREMENT value")) return {};
    return with_table("ALTER TABLE `%s` AUTO_INCREMENT = %d"_id, table, value);
}

Ref delete_all_text(PyObject* table) { return with_table("DELETE FROM `%s`"_id, table); }

Ref show_create_table_text(PyObject* table) { return with_table("SHOW CREATE TABLE `%s`"_id, table); }

Ref select_all_text(PyObject* table) { return with_table("SELECT * FROM `%s`"_id, table); }

Ref select_by_column_text(PyObject* table, PyObject* column, PyObject* id) {
    if (!require_integer_id(id, nullptr)) return {};
    return with_table_and_column("SELECT * FROM `%s` WHERE `%s` = %d"_id, table, column, id);
}

Ref select_by_ids_text(PyObject* table, PyObject* ids) {
    return with_table("SELECT * FROM `%s` WHERE id IN (%s)"_id, table, ids);
}

Ref select_by_column_in_text(PyObject* table, PyObject* column, PyObject* ids) {
    return with_table_and_column("SELECT * FROM `%s` WHERE `%s` IN (%s) ORDER BY id"_id, table, column, ids);
}

namespace {
// "3, 5": each identifier by the "%d" conversion.
Ref identifier_list(PyObject* ids) {
    Ref parts = Ref::steal(PyList_New(0));
    if (!parts) return {};
    const Py_ssize_t count = PyList_GET_SIZE(ids);
    for (Py_ssize_t i = 0; i < count; ++i) {
        Ref id = Ref::borrow(PyList_GET_ITEM(ids, i));
        if (!require_integer_id(id.get(), nullptr)) return {};
        Ref part = format("%d"_id, {id.get()});
        if (!part || PyList_Append(parts.get(), part.get()) < 0) return {};
    }
    return Ref::steal(PyUnicode_Join(", "_id, parts.get()));
}

// `text_format` for every row, `except_format` (one more operand: the list) when
// some identifiers are kept.
Ref rows_pointing_at(PyObject* text_format, PyObject* except_format, PyObject* table, PyObject* column, PyObject* id,
                     PyObject* kept) {
    if (!require_integer_id(id, nullptr)) return {};
    if (!kept || PyList_GET_SIZE(kept) == 0) return with_table_and_column(text_format, table, column, id);
    Ref table_name = quoted_name(table);
    Ref column_name = table_name ? quoted_name(column) : Ref();
    Ref list = column_name ? identifier_list(kept) : Ref();
    if (!list) return {};
    return format(except_format, {table_name.get(), column_name.get(), id, list.get()});
}
}  // namespace

Ref delete_by_column_text(PyObject* table, PyObject* column, PyObject* id, PyObject* kept) {
    return rows_pointing_at("DELETE FROM `%s` WHERE `%s` = %d"_id, "DELETE FROM `%s` WHERE `%s` = %d AND id NOT IN (%s)"_id,
                            table, column, id, kept);
}

Ref select_ids_by_column_text(PyObject* table, PyObject* column, PyObject* id, PyObject* kept) {
    return rows_pointing_at("SELECT id FROM `%s` WHERE `%s` = %d"_id,
                            "SELECT id FROM `%s` WHERE `%s` = %d AND id NOT IN (%s)"_id, table, column, id, kept);
}

}  // namespace brx
