// What `row[name]` means: the one place its rules are written. In order, an
// attribute of that name wins; then a column of COLUMN_NAMES, whose stored int
// is looked up when the foreign-key flag says so; then a multi-foreign
// attribute of MULTI_FOREIGN_ATTR; else the name is missing. Item read and
// every operation that must agree with it (the foreign-key lookups of the
// graph operations and of FillForeignMany) ask here.
#pragma once

#include <optional>

#include "rows/row_access.hpp"
#include "support/python_names.hpp"
#include "support/ref.hpp"

namespace brx {

enum class ItemMeaning {
    Failed,        // an exception is set
    Attribute,     // `out` holds the attribute's value
    Value,         // `out` holds the column's value, read as it is
    ForeignKey,    // `out` holds the stored int identifier to look up
    MultiForeign,  // a multi-foreign attribute not held yet: load it
    Missing,       // nothing of that name
};

// The rules in full.
ItemMeaning general_item_meaning(PyObject* self, PyObject* name, Ref& out);

// The fast case (rows/plain_read.cpp): the same rules for the common item
// read, a plain column of a plain row object, answered without a view; empty
// when it cannot be sure, having done nothing.
std::optional<ItemMeaning> plain_item_meaning(PyObject* self, PyObject* name, Ref& out);

// The rules, the fast case first.
inline ItemMeaning item_meaning(PyObject* self, PyObject* name, Ref& out) {
    if (const std::optional<ItemMeaning> meaning = plain_item_meaning(self, name, out)) return *meaning;
    return general_item_meaning(self, name, out);
}

// What item read returns for `name` once its meaning is known, `value` being
// what item_meaning() gave with it.
Ref item_read(PyObject* self, PyObject* name, ItemMeaning meaning, Ref value);

// What a row class declares `name` to be, the attribute rule aside: a column
// of COLUMN_NAMES, else a key of MULTI_FOREIGN_ATTR, else neither.
// `column_names()` and `get_attr(attribute_name)` read them from a row object
// or from its class.
enum class Declared { Failed, Column, MultiForeign, Missing };

template <class ColumnNames, class GetAttr>
Declared declared_as(PyObject* name, ColumnNames&& column_names, GetAttr&& get_attr) {
    Ref names = column_names();
    if (!names) return Declared::Failed;
    const int is_column = contains_name(names.get(), name);
    if (is_column != 0) return is_column < 0 ? Declared::Failed : Declared::Column;
    Ref multi_foreign = get_attr(py::MULTI_FOREIGN_ATTR());
    const int is_multi_foreign = multi_foreign ? contains_key(multi_foreign.get(), name) : -1;
    if (is_multi_foreign != 0) return is_multi_foreign < 0 ? Declared::Failed : Declared::MultiForeign;
    return Declared::Missing;
}

}  // namespace brx
