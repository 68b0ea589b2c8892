#include "rows/batched_insert.hpp"

#include "rows/class_snapshot.hpp"
#include "rows/foreign_flag.hpp"
#include "rows/graph_transaction.hpp"
#include "rows/not_stored.hpp"
#include "rows/referenced_rows.hpp"
#include "rows/row_access.hpp"
#include "rows/row_methods.hpp"
#include "rows/single_row_insert.hpp"
#include "statements/cursor.hpp"
#include "statements/packet_limit.hpp"
#include "statements/statement_texts.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_set>
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
    std::size_t bytes;  // at least what its "(...)" takes in the statement
};

// A run of consecutive new rows of one class, table and column list.
struct Run {
    Ref type;
    Ref table;
    Ref names;
    Py_ssize_t column_count = 0;
    std::vector<NewRow> rows;
    Ref params;  // the rows' values, row after row, each in COLUMN_NAMES order
    std::unordered_set<PyObject*> members;  // the rows' objects, held by `rows`
};

// What a row does next: join the run, go alone through its own Insert, or
// wait for the run to be stored first (it points at a row not stored yet,
// which may be one of the run's: once the run is stored it may start the next).
enum class Next { Join, Alone, AfterRun, Failed };

// Its Insert is the module's, all the way through.
bool is_plain_insert(PyObject* row) {
    PyTypeObject* type = Py_TYPE(row);
    return type_runs_own(type, py::Insert(), sig::table_insert) &&
           type_runs_own(type, py::row_insert_multi_foreign_attr(), sig::table_insert_multi_foreign_attr);
}

// Whether `row` can go in a batch: the module's own Insert would store it with
// one INSERT and nothing before or after (the server assigns its id, it holds
// no rows of its own, and its foreign keys point at stored rows, whose ids are
// then in `foreign_ids`).
Next batchable(PyObject* row, PyObject* cnx, Ref& id, Ref& foreign_ids) {
    id = Ref::steal(PyObject_GetItem(row, py::id()));
    if (!id) return Next::Failed;
    if (!server_assigns_id(id.get()) || !is_plain_insert(row)) return Next::Alone;
    if (holds_rows(row, false)) return PyErr_Occurred() ? Next::Failed : Next::Alone;
    Ref foreigns = foreign_key_columns(row);
    if (!foreigns) return Next::Failed;
    const int stored = stored_referenced_ids(row, foreigns.get(), cnx, foreign_ids);
    if (stored <= 0) return stored < 0 ? Next::Failed : Next::AfterRun;
    return Next::Join;
}

// Appends the statement parameters of a batchable row to `params`, in
// COLUMN_NAMES order: its column values, each foreign key as the id in
// `foreign_ids`; counts the bytes they take in the statement.
bool add_row_params(PyObject* row, PyObject* names, PyObject* foreign_ids, PyObject* params, std::size_t& bytes) {
    Ref store = column_store(row);
    if (!store) return false;
    if (!PyDict_CheckExact(store.get())) {
        // What Insert sends: the store's own copy() with the ids in place.
        Ref foreigns = Ref::steal(PyDict_Keys(foreign_ids));
        store = foreigns ? insert_values(row, foreigns.get(), foreign_ids) : Ref();
        if (!store) return false;
    }
    bytes = 4;  // "(", ")" and the ", " before the next row
    return each_item(names, [&](PyObject* name) {
        Ref value = Ref::borrow(PyDict_GetItemWithError(foreign_ids, name));
        if (!value && !PyErr_Occurred()) value = Ref::steal(PyObject_GetItem(store.get(), name));
        if (!value) return false;
        bytes += parameter_size_bound(value.get()) + 2;
        return PyList_Append(params, value.get()) == 0;
    });
}

// One INSERT ... RETURNING id for rows [first, first + count) of the run (at
// least two), then their ids noted in order.
bool insert_rows(const Run& run, const std::vector<NewRow>& rows, PyObject* all_params, std::size_t first,
                 std::size_t count, PyObject* cnx) {
    const Py_ssize_t columns = run.column_count;
    Ref text = insert_returning_ids_text(run.table.get(), columns, static_cast<Py_ssize_t>(count));
    Ref params = text ? Ref::steal(PyList_GetSlice(all_params, static_cast<Py_ssize_t>(first) * columns,
                                                   static_cast<Py_ssize_t>(first + count) * columns))
                      : Ref();
    if (!params) return false;
    Ref cursor = open_cursor(cnx);
    if (!cursor || !execute_statement(cursor.get(), text.get(), params.get())) return false;
    Ref returned = fetch_all_rows(cursor.get());
    if (!returned || !skip_further_results(cursor.get())) return false;
    if (PyList_GET_SIZE(returned.get()) != static_cast<Py_ssize_t>(count)) {
        PyErr_Format(PyExc_RuntimeError, "the server returned %zd identifiers for %zu rows inserted into %S",
                     PyList_GET_SIZE(returned.get()), count, run.table.get());
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        // The list is ours: noting a row (a cache's Insert) cannot change it.
        Ref id = Ref::steal(PySequence_GetItem(PyList_GET_ITEM(returned.get(), static_cast<Py_ssize_t>(i)), 0));
        const NewRow& stored = rows[first + i];
        if (!id || !note_stored_row(stored.row.get(), id.get(), stored.old_id.get(), cnx)) return false;
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
bool flush(Run& run, PyObject* cnx, const RowWork& one_row) {
    std::vector<NewRow> rows = std::move(run.rows);
    Ref params = std::move(run.params);
    run.rows.clear();
    run.members.clear();
    if (rows.size() == 1) return one_row(rows[0].row.get());
    std::size_t budget = 0;
    if (!statement_budget(rows, cnx, budget)) return false;
    for (std::size_t start = 0; start < rows.size();) {
        std::size_t count = 1, bytes = kStatementFrame + rows[start].bytes;
        while (start + count < rows.size() && count < kMaxRowsPerStatement && bytes + rows[start + count].bytes <= budget)
            bytes += rows[start + count++].bytes;
        if (count == 1 ? !one_row(rows[start].row.get()) : !insert_rows(run, rows, params.get(), start, count, cnx))
            return false;
        start += count;
    }
    return true;
}

// Adds `row` to the run when it can join it (the run is stored first when the
// row starts another).
Next join_run(Run& run, PyObject* row, PyObject* cnx, const RowWork& one_row) {
    // A row listed twice is stored by its first place; its second goes its own
    // way once the run is stored, as it would one row at a time.
    if (run.members.count(row)) return Next::AfterRun;
    Ref id, foreign_ids;
    const Next can = batchable(row, cnx, id, foreign_ids);
    if (can != Next::Join) return can;
    Ref table = get_attr(row, py::TABLE_NAME());
    Ref names = table ? get_attr(row, py::COLUMN_NAMES()) : Ref();
    if (!names) return Next::Failed;
    const Py_ssize_t column_count = PyObject_Length(names.get());
    if (column_count < 0) return Next::Failed;
    if (column_count == 0) return Next::Alone;  // its own Insert reports it
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(row));
    const bool same = !run.rows.empty() && run.type.get() == type && run.table.get() == table.get() &&
                      run.names.get() == names.get() && run.column_count == column_count;
    if (!same) {
        if (!run.rows.empty() && !flush(run, cnx, one_row)) return Next::Failed;
        run.type = Ref::borrow(type);
        run.table = std::move(table);
        run.names = std::move(names);
        run.column_count = column_count;
    }
    if (!run.params && !(run.params = Ref::steal(PyList_New(0)))) return Next::Failed;
    std::size_t bytes = 0;
    const Py_ssize_t before = PyList_GET_SIZE(run.params.get());
    if (!add_row_params(row, run.names.get(), foreign_ids.get(), run.params.get(), bytes)) return Next::Failed;
    if (PyList_GET_SIZE(run.params.get()) - before != column_count) {
        // The statement takes the values row by row: all rows must give as many.
        PyErr_Format(PyExc_RuntimeError, "COLUMN_NAMES of %.200s changed while its rows were being stored",
                     Py_TYPE(row)->tp_name);
        return Next::Failed;
    }
    run.rows.push_back(NewRow{Ref::borrow(row), std::move(id), bytes});
    run.members.insert(row);
    return Next::Join;
}

// Stores `row` after the rows before it: in the run, or alone once the run
// is stored.
bool store_in_order(Run& run, PyObject* row, PyObject* cnx, const RowWork& one_row) {
    Next next = join_run(run, row, cnx, one_row);
    if (next == Next::AfterRun && !run.rows.empty()) {
        if (!flush(run, cnx, one_row)) return false;
        next = join_run(run, row, cnx, one_row);
    }
    if (next == Next::Join || next == Next::Failed) return next == Next::Join;
    return (run.rows.empty() || flush(run, cnx, one_row)) && one_row(row);
}

}  // namespace

bool store_new_rows(PyObject* rows, PyObject* cnx, const RowWork& prepare, const RowWork& one_row) {
    int batching = -2;  // not asked yet
    Run run;
    const bool walked = each_item(rows, [&](PyObject* row) {
        if (prepare && !prepare(row)) return false;
        if (batching == -2) batching = returns_inserted_ids(cnx);
        if (batching < 0) return false;
        if (batching) return store_in_order(run, row, cnx, one_row);
        return one_row(row);
    });
    return walked && (run.rows.empty() || flush(run, cnx, one_row));
}

bool store_multi_foreign_rows(PyObject* owner, PyObject* foreign_name, PyObject* rows, PyObject* cnx,
                              const RowWork& one_row) {
    const auto point_at_owner = [&](PyObject* row) { return PyObject_SetItem(row, foreign_name, owner) == 0; };
    return store_new_rows(rows, cnx, point_at_owner, one_row);
}

}  // namespace brx
