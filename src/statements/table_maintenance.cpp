// CNXGuard.AlterAutoIncrement and ClearTable; GetTableNames and
// GetCreateTableStatement. One guarded block and one cursor per call.
#include "connections/guard_block.hpp"
#include "statements/create_statement.hpp"
#include "statements/cursor.hpp"
#include "statements/statement_methods.hpp"
#include "statements/statement_texts.hpp"
#include "support/names.hpp"

namespace brx {
namespace {

// The row as a tuple of exactly `expected` values, failing with the
// interpreter's own unpacking messages otherwise.
Ref unpack_row(PyObject* row, Py_ssize_t expected) {
    Ref values = PyTuple_Check(row) ? Ref::borrow(row) : Ref::steal(PySequence_Tuple(row));
    if (!values) return {};
    const Py_ssize_t size = PyTuple_GET_SIZE(values.get());
    if (size > expected) {
        PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", expected);
        return {};
    }
    if (size < expected) {
        PyErr_Format(PyExc_ValueError, "need more than %zd value%.1s to unpack", size, size == 1 ? "" : "s");
        return {};
    }
    return values;
}

}  // namespace

Ref guard_alter_auto_increment(Bound<sig::guard_alter_auto_increment> args) {
    if (!require_integer_id(args.get<"value">(), "CNXGuard.AlterAutoIncrement", "AUTO_INCREMENT value")) return {};
    Ref text = alter_auto_increment_text(args.get<"table">(), args.get<"value">());
    if (!text) return {};
    return with_guard(args.get<"cnx">(), args.get<"pool">(), [&](PyObject* cnx) -> Ref {
        Ref cursor = open_cursor(cnx);
        if (!cursor || !execute_statement(cursor.get(), text.get())) return {};
        return none();
    });
}

Ref guard_clear_table(Bound<sig::guard_clear_table> args) {
    PyObject* const given = args.get<"tables">();
    Ref tables = Ref::borrow(given);
    if (PyUnicode_Check(given)) {
        tables = Ref::steal(PyList_New(1));
        if (!tables) return {};
        PyList_SET_ITEM(tables.get(), 0, Py_NewRef(given));
    }
    // All deletions share one block: a failure at any table rolls back the
    // ones already made (with a borrowed connection) and leaves the rest alone.
    return with_guard(args.get<"cnx">(), args.get<"pool">(), [&](PyObject* cnx) -> Ref {
        Ref cursor = open_cursor(cnx);
        if (!cursor) return {};
        const bool done = each_item(tables.get(), [&](PyObject* table) {
            Ref text = delete_all_text(table);
            return text && execute_statement(cursor.get(), text.get());
        });
        return done ? none() : Ref();
    });
}

Ref get_table_names(Bound<sig::get_table_names> args) {
    return with_guard(args.get<"cnx">(), args.get<"pool">(), [&](PyObject* cnx) -> Ref {
        Ref names = Ref::steal(PyList_New(0));
        if (!names) return {};
        Ref cursor = open_cursor(cnx);
        if (!cursor || !execute_statement(cursor.get(), "SHOW TABLES"_id)) return {};
        const bool read = for_each_row(cursor.get(), [&](PyObject* row) {
            Ref values = unpack_row(row, 1);
            if (!values || PyList_Append(names.get(), PyTuple_GET_ITEM(values.get(), 0)) < 0) return RowStep::Fail;
            return RowStep::Next;
        });
        if (!read) return {};
        return names;
    });
}

Ref get_create_table_statement(Bound<sig::get_create_table_statement> args) {
    Ref text = show_create_table_text(args.get<"table">());
    if (!text) return {};
    return with_guard(args.get<"cnx">(), args.get<"pool">(), [&](PyObject* cnx) -> Ref {
        Ref cursor = open_cursor(cnx);
        if (!cursor || !execute_statement(cursor.get(), text.get())) return {};
        Ref statements = Ref::steal(PyList_New(0));
        if (!statements) return {};
        const bool read = for_each_row(cursor.get(), [&](PyObject* row) {
            Ref values = unpack_row(row, 2);
            if (!values) return RowStep::Fail;
            Ref statement = one_line_create_statement(PyTuple_GET_ITEM(values.get(), 1));
            if (!statement || PyList_Append(statements.get(), statement.get()) < 0) return RowStep::Fail;
            return RowStep::Next;
        });
        if (!read) return {};
        return Ref::borrow(PyList_GetItem(statements.get(), 0));
    });
}

}  // namespace brx
