// The foreign-key test of a column: `name in COLUMN_ATTRIBUTES and
// COLUMN_ATTRIBUTES[name].isForeignKey`, written once.
#pragma once

#include "rows/row_access.hpp"
#include "support/ref.hpp"

namespace brx {

// The flag as the column settings store it, or False when `attributes` (the
// COLUMN_ATTRIBUTES) has no settings for `name`; null with an exception set.
Ref foreign_flag(PyObject* attributes, PyObject* name);

// foreign_flag() as a truth value: 1, 0 or -1.
int foreign_flag_in(PyObject* attributes, PyObject* name);

// `self._TableBase__is_foreign_key(name)` as a truth value: 1, 0 or -1; the
// module's own body directly when the class does not override it.
int is_foreign_key(const RowView& row, PyObject* name);

// The foreign-key columns of COLUMN_ATTRIBUTES, in its order, as TableBase's
// own _TableBase__get_foreigns gives them.
Ref declared_foreign_keys(PyObject* self);

// `row._TableBase__get_foreigns()`; the module's own body directly when the
// class does not override it.
Ref foreign_key_columns(PyObject* row);

}  // namespace brx
