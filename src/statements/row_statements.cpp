// CNXGuard.Select, SelectForeignAttr, Insert and Delete: one row, one
// statement, one cursor, one guarded block.
#include "connections/guard_block.hpp"
#include "statements/column_order.hpp"
#include "statements/cursor.hpp"
#include "statements/quoted_name.hpp"
#include "statements/statement_methods.hpp"
#include "statements/statement_texts.hpp"
#include "support/calls.hpp"

namespace brx {
namespace {

Ref raise_value_error(const char* message) {
    PyErr_SetString(PyExc_ValueError, message);
    return {};
}

// The parameters of an insert: the dict's values in the order of `names`
// (other keys ignored), or the caller's sequence itself when its length fits.
Ref insert_params(PyObject* names, PyObject* values, Py_ssize_t column_count) {
    if (!PyDict_Check(values)) {
        const Py_ssize_t given = PyObject_Size(values);
        if (given < 0) return {};
        if (given != column_count)
            return raise_value_error("argument column_names and column_values do not match in length.");
        return Ref::borrow(values);
    }
    Ref params = Ref::steal(PyList_New(0));
    if (!params) return {};
    const bool done = each_item(names, [&](PyObject* name) {
        Ref value = Ref::steal(PyObject_GetItem(values, name));
        return value && PyList_Append(params.get(), value.get()) == 0;
    });
    return done ? std::move(params) : Ref();
}

}  // namespace

Ref guard_select(Bound<sig::guard_select> args) {
    PyObject* const id = args.get<"id">();
    PyObject* const table = args.get<"table">();
    PyObject* const row_class = args.get<"_class">();
    // A bad id borrows no connection.
    if (!require_integer_id(id, "CNXGuard.Select")) return {};
    Ref text = select_by_id_text(table, id);
    if (!text) return {};
    bool found = false;
    Ref row_object = with_guard(args.get<"cnx">(), args.get<"pool">(), [&](PyObject* cnx) -> Ref {
        Ref cursor = open_cursor(cnx);
        if (!cursor || !execute_statement(cursor.get(), text.get())) return {};
        if (!check_column_order(row_class, table, cursor.get())) return {};
        Ref built;
        // Only the first row counts; for_each_row reads away any others so the
        // guard can still commit on this connection.
        const bool read = for_each_row(cursor.get(), [&](PyObject* row) {
            found = true;
            built = call_with_row(row_class, row);
            return built ? RowStep::Stop : RowStep::Fail;
        });
        if (!read) return {};
        return found ? std::move(built) : none();
    });
    if (!row_object || found) return row_object;
    // Raised only now, so a borrowed connection has been committed and given back.
    Ref message = format("Table %s has no row with id = %d"_id, {table, id});
    if (message) PyErr_SetObject(PyExc_KeyError, message.get());
    return {};
}

Ref guard_select_foreign_attr(Bound<sig::guard_select_foreign_attr>) { return none(); }

Ref guard_insert(Bound<sig::guard_insert> args) {
    PyObject* const table = args.get<"table">();
    PyObject* const names = args.get<"column_names">();
    const Py_ssize_t column_count = PyObject_Size(names);
    if (column_count < 0) return {};
    if (column_count < 1)
        return raise_value_error("Column count must be greater than 0 when inserting something into a table");
    // Everything that can be checked from the arguments is settled before a
    // connection is borrowed.
    Ref params = insert_params(names, args.get<"column_values">(), column_count);
    if (!params) return {};
    Ref text = insert_text(table, column_count);
    if (!text) return {};
    return with_guard(args.get<"cnx">(), args.get<"pool">(), [&](PyObject* cnx) -> Ref {
        Ref cursor = open_cursor(cnx);
        if (!cursor || !execute_statement(cursor.get(), text.get(), params.get())) return {};
        return last_row_id(cursor.get());
    });
}

Ref guard_delete(Bound<sig::guard_delete> args) {
    // The id must be an integer, as for Select: the server would read a string
    // such as "3 OR 1=1" as the number 3, and 1.9 matches no row.
    if (!require_integer_id(args.get<"id">(), "CNXGuard.Delete")) return {};
    Ref text = delete_by_id_text(args.get<"table">());
    if (!text) return {};
    Ref params = Ref::steal(PyTuple_Pack(1, args.get<"id">()));
    if (!params) return {};
    return with_guard(args.get<"cnx">(), args.get<"pool">(), [&](PyObject* cnx) -> Ref {
        Ref cursor = open_cursor(cnx);
        if (!cursor || !execute_statement(cursor.get(), text.get(), params.get())) return {};
        return none();
    });
}

}  // namespace brx
