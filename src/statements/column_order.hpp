// A row class pairs the values of a result with its COLUMN_NAMES by position.
// Names declared in another order than the columns give each column's value
// to another name without any error, and its inserts and updates write into
// the wrong columns. So the first read of a class's rows from a table, or
// from a statement given to Query, compares the columns the cursor reports
// with COLUMN_NAMES.
#pragma once

#include "support/ref.hpp"

namespace brx {

// Where the rows come from: a table read with `SELECT *`, or the text of a
// caller's statement. `name` is borrowed from the caller.
struct RowSource {
    enum class Kind { Table, Statement };
    Kind kind;
    PyObject* name;
};

// After `cursor` has executed the statement over `source` whose rows become
// `row_class` objects: true when the cursor's column names are the class's
// COLUMN_NAMES, in order, as far as both go (names compared as the server
// does, without regard to case). Otherwise false with ValueError naming both
// lists, and the cursor read to its end (left unread after an interrupt). A
// callable without COLUMN_NAMES, or a cursor that reports no columns, is not
// checked. A class found right is not checked again until it changes (a new
// version tag: COLUMN_NAMES or any other attribute assigned) or is read from
// another source.
bool check_column_order(PyObject* row_class, const RowSource& source, PyObject* cursor);

// [name of each cursor.description entry], or None when it reports none.
Ref cursor_column_names(PyObject* cursor);

// The server compares column names without regard to case: "Name" names the
// column `name`. 1 same, 0 not, -1 failed.
int same_name(PyObject* mine, PyObject* theirs);

inline bool check_column_order(PyObject* row_class, PyObject* table, PyObject* cursor) {
    return check_column_order(row_class, RowSource{RowSource::Kind::Table, table}, cursor);
}

}  // namespace brx
