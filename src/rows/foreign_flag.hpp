// What a foreign key is, written once: the test of one column (`name in
// COLUMN_ATTRIBUTES and COLUMN_ATTRIBUTES[name].isForeignKey`, or a row
// class's own _TableBase__is_foreign_key), and the list of a row's
// foreign-key columns that the writes store first.
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
// module's own body directly when the class does not override it. Item read's
// test, and every operation that must agree with item read asks here.
int is_foreign_key(const RowView& row, PyObject* name);

// The same test asked of a row class before its rows are read (the steps of
// FillForeignMany): the flag `cls` declares, unless the class overrides
// _TableBase__is_foreign_key (or its rows' attribute access), whose answer
// only a row can give: PerRow.
enum class ClassForeignKey { Failed, No, Yes, PerRow };
ClassForeignKey class_foreign_key(PyObject* cls, PyObject* name);

// class_foreign_key() as 1, 0 or -1, with `row` (one of the class's rows, or
// null when none is at hand) asked where only a row can tell; with no row
// there, 1: the column may be a key, and each row's item read decides.
int foreign_key_of(PyObject* cls, PyObject* name, PyObject* row);

// The foreign-key columns of COLUMN_ATTRIBUTES, in its order, as TableBase's
// own _TableBase__get_foreigns gives them.
Ref declared_foreign_keys(PyObject* self);

// `row._TableBase__get_foreigns()`; the module's own body directly when the
// class does not override it.
Ref foreign_key_columns(PyObject* row);

}  // namespace brx
