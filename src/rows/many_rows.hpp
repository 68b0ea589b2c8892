// What the module functions over many row objects (FillForeignMany,
// InsertMany) share: the rows checked before anything else, and the one pool
// all of them borrow from.
#pragma once

#include "support/ref.hpp"

#include <vector>

namespace brx {

// The operation, as its errors name it.
struct ManyRowsCall {
    const char* name;     // "InsertMany"
    const char* does;     // "stores"
    const char* instead;  // what to do when the rows' pools differ
};

// `given` as a list (itself when it is one, else a new list of its items) in
// `list`, and its items in `objects`. Every item must be a row object:
// TypeError naming the first that is not and its place.
bool row_objects(PyObject* given, const ManyRowsCall& call, Ref& list, std::vector<Ref>& objects);

// The pool the rows' work borrows from, on one connection. With no connection
// given, every row must borrow from the same pool as its own operations would
// (`pool`, else its class's POOL, else CNXGuard.POOL): rows of another
// database would otherwise be worked on in the first one. ValueError, before
// any statement, when they do not. `objects` is not empty.
Ref shared_pool(const std::vector<Ref>& objects, PyObject* cnx, PyObject* pool_arg, const ManyRowsCall& call);

}  // namespace brx
