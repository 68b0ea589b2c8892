// A row class pairs the values of `SELECT *` with its COLUMN_NAMES by
// position. Names declared in another order than the table's give each
// column's value to another name without any error, and its inserts write
// into the wrong columns. So the first read of a class's rows from a table
// compares the columns the cursor reports with COLUMN_NAMES.
#pragma once

#include "support/ref.hpp"

namespace brx {

// After `cursor` has executed a `SELECT *` over `table` whose rows become
// `row_class` objects: true when the cursor's column names are the class's
// COLUMN_NAMES, in order, as far as both go. Otherwise false with ValueError naming both lists,
// and the cursor read to its end. A callable without COLUMN_NAMES, or a
// cursor that reports no columns, is not checked. A class found right is
// not checked again until it changes (a new version tag: COLUMN_NAMES or any
// other attribute assigned) or is read from another table.
bool check_column_order(PyObject* row_class, PyObject* table, PyObject* cursor);

}  // namespace brx
