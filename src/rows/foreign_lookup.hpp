// Looking a foreign-key column's stored identifier up and keeping the row
// object in its place. Item read looks identifiers up on a connection of its
// own, outside any transaction (or through the class's cache); the graph
// operations (Insert, Update, FillForeign) resolve them on their block's
// connection instead, so rows written earlier in the same transaction are
// found and no extra connection or commit is spent.
#pragma once

#include "support/ref.hpp"

namespace brx {

// The table and row class that foreign-key column `name` points at:
// COLUMN_ATTRIBUTES[name].foreignTableName and .foreignClass.
bool foreign_target(PyObject* self, PyObject* name, Ref& table, Ref& row_class);

// What item read of `column` does with what `row` holds there.
enum class ForeignRead {
    Failed,    // an exception is set
    AsStored,  // returns the value (or reports an error) without a lookup
    Database,  // looks the identifier `id` up with CNXGuard.Select
    Cache,     // looks the identifier `id` up with `cache`.Select
};
ForeignRead foreign_read(PyObject* row, PyObject* column, Ref& id, Ref& cache);

// Looks the identifier `id` stored in foreign-key column `column` up, with
// `cache`.Select, or with CNXGuard.Select when `cache` is None (on `cnx`, or
// on a connection of the row's own pool when `cnx` is null), and keeps the
// row object in the column. The row object, or null with an exception set.
Ref resolve_foreign(PyObject* row, PyObject* column, PyObject* id, PyObject* cache, PyObject* cnx);

// When item read of `column` would look a stored identifier up in the
// database (a foreign-key column holding an int, no cache), looks it up on
// `cnx` as item read would. Otherwise does nothing: item read then gives the
// same answer by itself. False with an exception set on failure.
bool resolve_foreign_on(PyObject* row, PyObject* column, PyObject* cnx);

}  // namespace brx
