// The connector falls back to pure Python by itself when its C extension cannot
// load (a wheel linked against a newer OpenSSL than the machine has), with no
// word, and every call then runs much slower. The first connection a pool makes
// tells whether that happened; once per process, a WARNING on the "brx_sql"
// logger says why and what to pin.
#pragma once

#include "support/ref.hpp"

namespace brx {

// Looks at the first connection of the process only: warns when it is of the
// connector's pure-Python class, `keywords` (its connection settings) did not
// ask for that with use_pure, and the connector ships a C extension that
// failed to import. Never fails the connection: a failure to warn is dropped.
// Returns false only when a pending exception must go to the caller.
bool warn_if_c_extension_failed(PyObject* connection, PyObject* keywords);

}  // namespace brx
