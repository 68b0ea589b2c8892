// The common item read taken without a view: an exact str name of a plain
// column, found in COLUMN_NAMES by identity, on a row object that holds
// nothing but its column store, whose class keeps the generic attribute
// protocol and the module's own foreign-key rule. Everything else, and
// everything this path cannot be sure of before a lookup may run Python code,
// is left to the general item read.
#pragma once

#include "support/ref.hpp"

namespace brx {

enum class PlainRead {
    Value,       // `out` holds the column's value
    ForeignKey,  // `out` holds a stored identifier to look up
    Failed,      // an exception is set
    NotPlain,    // nothing was done: take the general item read
};

PlainRead read_plain_column(PyObject* self, PyObject* name, Ref& out);

}  // namespace brx
