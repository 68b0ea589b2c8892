// Resolving a stored foreign-key identifier on a connection the caller already
// holds. Item read looks identifiers up on a connection of its own, outside any
// transaction; the graph operations (Insert, Update, FillForeign) resolve them
// on their block's connection instead, so rows written earlier in the same
// transaction are found and no extra connection or commit is spent.
#pragma once

#include "support/ref.hpp"

namespace brx {

// What item read of `column` does with the value held in the column store
// `store` of `row`.
enum class ForeignRead {
    Failed,    // an exception is set
    AsStored,  // returns the value (or reports an error) without a lookup
    Database,  // looks the identifier `id` up with CNXGuard.Select
    Cache,     // looks the identifier `id` up with `cache`.Select
};
ForeignRead foreign_read(PyObject* row, PyObject* column, PyObject* store, Ref& id, Ref& cache);

// When item read of `column` would look a stored identifier up in the
// database (a foreign-key column holding an int, no cache), looks it up with
// CNXGuard.Select on `cnx` and keeps the row object in the column, as item read
// would. Otherwise does nothing: item read then gives the same answer by
// itself. False with an exception set on failure.
bool resolve_foreign_on(PyObject* row, PyObject* column, PyObject* cnx);

}  // namespace brx
