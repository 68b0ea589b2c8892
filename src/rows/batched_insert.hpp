// Many new rows stored in few statements: the rows of a multi-foreign list,
// and the rows given to InsertMany. One INSERT per row would otherwise cost
// one round trip per row. Where the server returns
// the identifiers of a multi-row INSERT (MariaDB 10.5 and newer: RETURNING, in
// insertion order), each run of consecutive rows that are new and need nothing
// stored before or after them goes as one statement (or a few, each under the
// server's packet limit); every other row goes
// through its own path as before. Identifiers are taken as returned, never
// counted on from the first (a Galera cluster steps them), and written into
// the rows and their caches in list order, as one-at-a-time inserts would, and
// recorded for putting back after a failure the same way.
#pragma once

#include "support/ref.hpp"

#include <functional>

namespace brx {

using RowWork = std::function<bool(PyObject*)>;

// For each row of `rows` (any iterable) in order: `prepare(row)` when given,
// then the row stored on `cnx`, batched as above or through `one_row(row)`,
// which stores it as its own Insert would.
bool store_new_rows(PyObject* rows, PyObject* cnx, const RowWork& prepare, const RowWork& one_row);

// store_new_rows() of a multi-foreign list: each row's column `foreign_name`
// is made to hold `owner` first.
bool store_multi_foreign_rows(PyObject* owner, PyObject* foreign_name, PyObject* rows, PyObject* cnx,
                              const RowWork& one_row);

}  // namespace brx
