// Query's row objects. A row class takes a row's values by position in the
// order of its COLUMN_NAMES; a result may hold further columns after those (a
// `COUNT(*) AS n` beside `t.*`). Those go to the class by name, as keywords,
// which the row class's constructor makes attributes (`row.n`, and `row["n"]`
// through item read's attribute rule). A result without further columns is
// built as every other read builds rows, `row_class(*row)`.
#pragma once

#include "support/ref.hpp"

namespace brx {

class QueryRows {
public:
    // All three borrowed from the caller, who holds them for the object's life.
    QueryRows(PyObject* row_class, PyObject* statement, PyObject* cursor)
        : row_class_(row_class), statement_(statement), cursor_(cursor) {}

    // The row object for one row of the result; null with an exception set.
    // A further column named like a column of COLUMN_NAMES (as the server
    // compares names, without regard to case), or named like another further
    // column, raises ValueError at the first row: its value would replace
    // another's.
    Ref build(PyObject* row);

private:
    bool prepare(Py_ssize_t width);

    PyObject* row_class_;
    PyObject* statement_;
    PyObject* cursor_;
    bool prepared_ = false;
    Py_ssize_t positional_ = 0;
    Ref keyword_names_;  // the further columns' names; null when there are none
};

}  // namespace brx
