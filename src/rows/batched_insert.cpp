#include "rows/batched_insert.hpp"

#include "module/module_state.hpp"
#include "rows/graph_transaction.hpp"
#include "rows/cache_entry_backup.hpp"
#include "rows/id_rollback.hpp"
#include "rows/referenced_rows.hpp"
#include "rows/row_access.hpp"
#include "rows/row_pool.hpp"
#include "statements/cursor.hpp"
#include "statements/packet_limit.hpp"
#include "statements/statement_texts.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <vector>

namespace brx {
namespace {

// Rows per statement.
constexpr std::size_t kMaxRowsPerStatement = 500;
// A statement is never longer than the server's max_allowed_packet. Batches of
// up to this many bytes (by parameter_size_bound(), which counts every str as
// if each byte were escaped) go without asking the server for its limit: the
// limit defaults to 16 MB on MariaDB and 64 MB on MySQL, and to no less than
// 1 MB on any release, so the usual small rows cost no extra round trip.
// Longer runs ask the server once per connection.
constexpr std::size_t kUnaskedStatementBytes = 256 * 1024;
// The statement's text around the rows' values, and the packet's header.
constexpr std::size_t kStatementFrame = 1024;

// Whether the server behind `cnx` returns the ids of a multi-row INSERT:
// MariaDB 10.5 or newer, told by the version string of the handshake (no
// round trip). 1, 0, or -1 with an exception set.
int returns_inserted_ids(PyObject* cnx) {
    Ref text;
    const int found = lookup_attribute(cnx, py::server_info(), text);
    if (found <= 0) return found;
    const char* version = PyUnicode_Check(text.get()) ? PyUnicode_AsUTF8(text.get()) : nullptr;
    if (!version) {
        PyErr_Clear();
        return 0;
    }
    if (!std::strstr(version, "MariaDB")) return 0;
    // Older clients saw "5.5.5-" in front of a MariaDB version.
    if (std::strncmp(version, "5.5.5-", 6) == 0) version += 6;
    int major = 0, minor = 0;
    if (std::sscanf(version, "%d.%d", &major, &minor) != 2) return 0;
    return major > 10 || (major == 10 && minor >= 5);
}

// A row collected for the batch, with what its INSERT needs.
struct NewRow {
    Ref row;
    Ref old_id;
    Ref params;         // its values in COLUMN_NAMES order
    std::size_t bytes;  // at least what its "(...)" takes in the statement
};

// A run of consecutive new rows of one class, table and column list.
struct Run {
    Ref type;
    Ref table;
    Ref names;
    std::vector<NewRow> rows;
};

// The row's class keeps TableBase's own method `name`.
int keeps_base_method(PyObject* row, PyObject* name) {
    Ref base = global(py::TableBase());
    Ref own = base ? get_attr(base.get(), name) : Ref();
    Ref used = own ? get_attr(reinterpret_cast<PyObject*>(Py_TYPE(row)), name) : Ref();
    if (!used) return -1;
    return used.get() == own.get();
}

// Its Insert is the module's, all the way through.
int is_plain_insert(PyObject* row) {
    const int insert = keeps_base_method(row, py::Insert());
    if (insert <= 0) return insert;
    return keeps_base_method(row, py::row_insert_multi_foreign_attr());
}

// Whether `row` can go in a batch: the module's own Insert would store it with
// one INSERT and nothing before or after (its id is 0, its foreign keys point
// at stored rows, it holds no rows of its own). 1, 0 or -1. The id is sent as
// the row's value for its id column: only 0 makes the server assign one, so
// a row not stored yet under a negative id goes alone, as it always did.
int batchable(PyObject* row, PyObject* foreigns, Ref& id) {
    id = Ref::steal(PyObject_GetItem(row, py::id()));
    if (!id) return -1;
    if (!PyLong_CheckExact(id.get())) return 0;
    const long value = PyLong_AsLong(id.get());
    if (value != 0) return value == -1 && PyErr_Occurred() ? -1 : 0;
    const int plain = is_plain_insert(row);
    if (plain <= 0) return plain;
    if (references_new_row(row, foreigns) || holds_rows(row, false)) return PyErr_Occurred() ? -1 : 0;
    return 1;
}

// The statement parameters of a batchable row, in COLUMN_NAMES order, and
// the bytes they take in the statement.
Ref row_params(PyObject* row, PyObject* foreigns, PyObject* names, PyObject* cnx, std::size_t& bytes) {
    Ref pool = row_pool(row, Py_None);
    if (!pool) return {};
    Ref foreign_ids = store_referenced_rows(row, foreigns, cnx, pool.get());
    if (!foreign_ids) return {};
    Ref values = insert_values(row, foreigns, foreign_ids.get());
    if (!values) return {};
    Ref params = Ref::steal(PyList_New(0));
    if (!params) return {};
    bytes = 4;  // "(", ")" and the ", " before the next row
    const bool done = each_item(names, [&](PyObject* name) {
        Ref value = Ref::steal(PyObject_GetItem(values.get(), name));
        if (value) bytes += parameter_size_bound(value.get()) + 2;
        return value && PyList_Append(params.get(), value.get()) == 0;
    });
    return done ? std::move(params) : Ref();
}

// One INSERT ... RETURNING id for `rows` (at least two), then their ids noted in order.
bool insert_rows(const Run& run, const NewRow* rows, std::size_t count, Py_ssize_t column_count, PyObject* cnx) {
    Ref text = insert_returning_ids_text(run.table.get(), column_count, static_cast<Py_ssize_t>(count));
    Ref params = text ? Ref::steal(PyList_New(0)) : Ref();
    if (!params) return false;
    for (std::size_t i = 0; i < count; ++i) {
        Ref extended = Ref::steal(PySequence_InPlaceConcat(params.get(), rows[i].params.get()));
        if (!extended) return false;
    }
    Ref cursor = open_cursor(cnx);
    if (!cursor || !execute_statement(cursor.get(), text.get(), params.get())) return false;
    Ref ids = Ref::steal(PyList_New(0));
    if (!ids) return false;
    const bool read = for_each_row(cursor.get(), [&](PyObject* returned) {
        Ref id = Ref::steal(PySequence_GetItem(returned, 0));
        return id && PyList_Append(ids.get(), id.get()) == 0 ? RowStep::Next : RowStep::Fail;
    });
    if (!read || !skip_further_results(cursor.get())) return false;
    if (PyList_GET_SIZE(ids.get()) != static_cast<Py_ssize_t>(count)) {
        PyErr_Format(PyExc_RuntimeError, "the server returned %zd identifiers for %zu rows inserted into %S",
                     PyList_GET_SIZE(ids.get()), count, run.table.get());
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        Ref id = Ref::borrow(PyList_GET_ITEM(ids.get(), static_cast<Py_ssize_t>(i)));
        if (!note_stored_row(rows[i].row.get(), id.get(), rows[i].old_id.get(), cnx)) return false;
    }
    return true;
}

// The most bytes one statement of `rows` may take: kUnaskedStatementBytes
// when they all fit in that, else the server's own limit.
bool statement_budget(const std::vector<NewRow>& rows, PyObject* cnx, std::size_t& budget) {
    std::size_t total = kStatementFrame;
    for (const NewRow& row : rows) total += row.bytes;
    budget = kUnaskedStatementBytes;
    if (total <= budget) return true;
    const long long limit = server_packet_limit(cnx);
    if (limit < 0) return false;
    if (limit > 0) budget = static_cast<std::size_t>(limit);
    return true;
}

// Stores the run's rows: a lone row through its own path, more in batches of
// at most kMaxRowsPerStatement rows and the statement budget in bytes. A row
// too long to share a statement goes alone, as it would one row at a time.
bool flush(Run& run, PyObject* cnx, const std::function<bool(PyObject*)>& one_row) {
    std::vector<NewRow> rows = std::move(run.rows);
    run.rows.clear();
    if (rows.size() == 1) return one_row(rows[0].row.get());
    const Py_ssize_t column_count = PyObject_Length(run.names.get());
    if (column_count < 0) return false;
    std::size_t budget = 0;
    if (!statement_budget(rows, cnx, budget)) return false;
    for (std::size_t start = 0; start < rows.size();) {
        std::size_t count = 1, bytes = kStatementFrame + rows[start].bytes;
        while (start + count < rows.size() && count < kMaxRowsPerStatement && bytes + rows[start + count].bytes <= budget)
            bytes += rows[start + count++].bytes;
        if (count == 1 ? !one_row(rows[start].row.get()) : !insert_rows(run, &rows[start], count, column_count, cnx))
            return false;
        start += count;
    }
    return true;
}

// Adds `row` to the run when it can join it (the run is stored first when the
// row starts another). 1 added, 0 not batchable, -1 on error.
int join_run(Run& run, PyObject* row, PyObject* cnx, const std::function<bool(PyObject*)>& one_row) {
    // A row listed twice is stored by its first place; its second goes its own
    // way once the run is stored, as it would one row at a time.
    for (const NewRow& collected : run.rows)
        if (collected.row.get() == row) return 0;
    Ref foreigns = call_method(row, py::row_get_foreigns(), {});
    if (!foreigns) return -1;
    Ref id;
    const int can = batchable(row, foreigns.get(), id);
    if (can <= 0) return can;
    Ref table = get_attr(row, py::TABLE_NAME());
    Ref names = table ? get_attr(row, py::COLUMN_NAMES()) : Ref();
    if (!names) return -1;
    const Py_ssize_t column_count = PyObject_Length(names.get());
    if (column_count < 0) return -1;
    if (column_count == 0) return 0;  // its own Insert reports it
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(row));
    const bool same = !run.rows.empty() && run.type.get() == type && run.table.get() == table.get() &&
                      run.names.get() == names.get();
    if (!same) {
        if (!run.rows.empty() && !flush(run, cnx, one_row)) return -1;
        run.type = Ref::borrow(type);
        run.table = std::move(table);
        run.names = std::move(names);
    }
    std::size_t bytes = 0;
    Ref params = row_params(row, foreigns.get(), run.names.get(), cnx, bytes);
    if (!params) return -1;
    run.rows.push_back(NewRow{Ref::borrow(row), std::move(id), std::move(params), bytes});
    return 1;
}

}  // namespace

Ref insert_values(PyObject* row, PyObject* foreigns, PyObject* foreign_ids) {
    Ref values = column_store(row);
    if (!values) return {};
    const Py_ssize_t count = PyObject_Length(foreigns);
    if (count < 0) return {};
    if (count == 0) return values;
    Ref copy = call_method(values.get(), py::copy(), {});
    if (!copy) return {};
    const bool done = each_item(foreigns, [&](PyObject* foreign) {
        Ref id = Ref::steal(PyObject_GetItem(foreign_ids, foreign));
        return id && PyObject_SetItem(copy.get(), foreign, id.get()) == 0;
    });
    return done ? std::move(copy) : Ref();
}

bool note_stored_row(PyObject* row, PyObject* id, PyObject* old_id, PyObject* cnx) {
    if (!write_row_id(row, id, old_id, cnx)) return false;
    Ref cache = get_attr(row, py::CACHE());
    if (!cache) return false;
    if (cache.get() == Py_None) return true;
    Ref table = get_attr(row, py::TABLE_NAME());
    return table && register_in_cache(cache.get(), row, table.get(), id, cnx);
}

bool store_multi_foreign_rows(PyObject* owner, PyObject* foreign_name, PyObject* rows, PyObject* cnx,
                              const std::function<bool(PyObject*)>& one_row) {
    int batching = -2;  // not asked yet
    Run run;
    const bool walked = each_item(rows, [&](PyObject* row) {
        if (PyObject_SetItem(row, foreign_name, owner) < 0) return false;
        if (batching == -2) batching = returns_inserted_ids(cnx);
        if (batching < 0) return false;
        const int joined = batching ? join_run(run, row, cnx, one_row) : 0;
        if (joined != 0) return joined > 0;
        return (run.rows.empty() || flush(run, cnx, one_row)) && one_row(row);
    });
    return walked && (run.rows.empty() || flush(run, cnx, one_row));
}

}  // namespace brx
