// Execute: one caller-written statement, its result chosen by the first word.
#include "connections/guard_block.hpp"
#include "statements/cursor.hpp"
#include "statements/statement_methods.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

enum class StatementKind { Query, Insert, Other };

// The kind from the statement's first whitespace-separated word, lower-cased.
// A statement with no word raises IndexError; nothing is borrowed yet.
bool classify(PyObject* statement, StatementKind& kind) {
    Ref words = PyUnicode_Check(statement) ? Ref::steal(PyUnicode_Split(statement, nullptr, 1))
                                           : call_method(statement, py::split(), {});
    if (!words) return false;
    Ref first = Ref::steal(PySequence_GetItem(words.get(), 0));
    if (!first) return false;
    Ref word = call_method(first.get(), py::lower(), {});
    if (!word) return false;
    for (PyObject* query_word : {py::select(), py::show()}) {
        const int equal = PyObject_RichCompareBool(word.get(), query_word, Py_EQ);
        if (equal < 0) return false;
        if (equal) {
            kind = StatementKind::Query;
            return true;
        }
    }
    const int insert = PyObject_RichCompareBool(word.get(), py::insert(), Py_EQ);
    if (insert < 0) return false;
    kind = insert ? StatementKind::Insert : StatementKind::Other;
    return true;
}

Ref all_rows(PyObject* cursor) {
    Ref rows = Ref::steal(PyList_New(0));
    if (!rows) return {};
    const bool read = for_each_row(cursor, [&](PyObject* row) {
        return PyList_Append(rows.get(), row) < 0 ? RowStep::Fail : RowStep::Next;
    });
    if (!read) return {};
    return rows;
}

}  // namespace

Ref execute(Bound<sig::execute> args) {
    PyObject* const statement = args.get<"statement">();
    StatementKind kind = StatementKind::Other;
    if (!classify(statement, kind)) return {};
    return with_guard(args.get<"cnx">(), args.get<"pool">(), [&](PyObject* cnx) -> Ref {
        Ref cursor = open_cursor(cnx);
        if (!cursor || !execute_statement(cursor.get(), statement)) return {};
        if (kind == StatementKind::Query) {
            Ref rows = all_rows(cursor.get());
            if (!rows || !skip_further_results(cursor.get())) return {};
            return rows;
        }
        // Statements counted as inserts or "other" may still return rows
        // (INSERT ... RETURNING, DESCRIBE, EXPLAIN, WITH, a parenthesised
        // query); they are read away so the connection stays usable.
        Ref result = kind == StatementKind::Insert ? last_row_id(cursor.get()) : none();
        if (!result || !drain_results(cursor.get())) return {};
        return result;
    });
}

}  // namespace brx
