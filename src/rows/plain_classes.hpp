// What storing many rows needs to know of their classes, found once per class
// instead of once per row: whether a row's "id" and its foreign keys read
// straight from its column store (item read would give the same), and what a
// row of the class needs to share a multi-row INSERT. The facts are taken
// without running Python code and are trusted only until the caller next runs
// any (a statement, a row's own Insert, a lookup, a cache): such code may
// change a class's settings in place, which no version tag shows. The caller
// calls forget() before it does.
#pragma once

#include "support/ref.hpp"

#include <deque>
#include <vector>

namespace brx {

struct PlainClass {
    PyTypeObject* type = nullptr;
    Ref held_type;  // so that `type` names the same class for as long as the facts are kept
    unsigned int version = 0;
    // row["id"] of a row of the class that holds no attribute of its own and
    // keeps its column store in an exact dict is the store's "id".
    bool id_readable = false;
    // Besides: the module's own Insert would store such a row with one INSERT
    // and nothing before or after, once its keys point at stored rows; its
    // keys read as the store holds them unless they hold an int.
    bool batchable = false;
    // Besides: row["id"] = value stores the value in the store (the module's
    // own item assignment), and the class has no CACHE to register rows in.
    bool sets_id_plainly = false;
    Ref table;                             // TABLE_NAME
    Ref names;                             // COLUMN_NAMES, an exact list or tuple of exact str
    Py_ssize_t column_count = 0;
    std::vector<Ref> keys;                 // the foreign-key columns, in COLUMN_ATTRIBUTES order
    std::vector<Py_ssize_t> key_of_column; // per column of `names`: its place in `keys`, or -1
};

class PlainClasses {
public:
    // The facts of `type`, or null when they cannot be taken without running
    // Python code or the class changed since they were found. The reference
    // stays valid, and its facts as they are, until forget().
    const PlainClass* find(PyTypeObject* type);
    void forget() { known_.clear(); }

    // row["id"] straight from the store when `row` is a plain row of a class
    // whose "id" reads so (borrowed, valid until Python code runs); null,
    // with no exception set, when item read must be asked.
    PyObject* plain_id(PyObject* row);

private:
    std::deque<PlainClass> known_;  // references stay valid as classes are added
};

// The store of `row` (borrowed) when it is a row object holding no attribute
// of its own whose column store is an exact dict; null otherwise.
PyObject* plain_store(PyObject* row);

}  // namespace brx
