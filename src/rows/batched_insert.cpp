#include "rows/batched_insert.hpp"

#include "rows/class_snapshot.hpp"
#include "rows/foreign_flag.hpp"
#include "rows/graph_transaction.hpp"
#include "rows/id_rollback.hpp"
#include "rows/not_stored.hpp"
#include "rows/plain_classes.hpp"
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
#include <cstdint>
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

// The row objects of a run, for telling a row listed twice: a flat table of
// pointers, as a node per row would cost an allocation per row.
class RowSet {
public:
    bool contains(PyObject* row) const {
        if (slots_.empty()) return false;
        for (std::size_t i = slot_of(row);; i = (i + 1) & (slots_.size() - 1)) {
            if (slots_[i] == row) return true;
            if (!slots_[i]) return false;
        }
    }
    void insert(PyObject* row) {
        if (2 * (count_ + 1) > slots_.size()) grow();
        std::size_t i = slot_of(row);
        while (slots_[i] && slots_[i] != row) i = (i + 1) & (slots_.size() - 1);
        if (!slots_[i]) ++count_;
        slots_[i] = row;
    }
    void clear() {
        std::fill(slots_.begin(), slots_.end(), nullptr);
        count_ = 0;
    }

private:
    std::size_t slot_of(PyObject* row) const {
        const auto bits = reinterpret_cast<std::uintptr_t>(row) >> 4;  // objects are 16-byte aligned
        return static_cast<std::size_t>(bits * 0x9E3779B97F4A7C15ull) & (slots_.size() - 1);
    }
    void grow() {
        std::vector<PyObject*> old = std::move(slots_);
        slots_.assign(old.empty() ? 64 : 2 * old.size(), nullptr);
        count_ = 0;
        for (PyObject* row : old)
            if (row) insert(row);
    }

    std::vector<PyObject*> slots_;  // a power of two long, at most half full
    std::size_t count_ = 0;
};

// The bytes a row's "(...)" takes in the statement before its values: "(",
// ")" and the ", " before the next row; and what each value adds, with its
// ", ".
constexpr std::size_t kRowFrameBytes = 4;
std::size_t value_bytes(PyObject* value) { return parameter_size_bound(value) + 2; }

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
    RowSet members;  // the rows' objects, held by `rows`
    std::vector<Ref> key_ids, values;       // scratch of join_plain(), kept for its capacity
    PlainClasses classes;                   // forgotten whenever Python code may run
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
    bytes = kRowFrameBytes;
    return each_item(names, [&](PyObject* name) {
        Ref value = Ref::borrow(PyDict_GetItemWithError(foreign_ids, name));
        if (!value && !PyErr_Occurred()) value = Ref::steal(PyObject_GetItem(store.get(), name));
        if (!value) return false;
        bytes += value_bytes(value.get());
        return PyList_Append(params, value.get()) == 0;
    });
}

// note_stored_row() of a plain row (rows/plain_classes.*) of a class without
// a cache: the id written straight into its store, as item assignment would,
// and recorded for putting back. 1 done; 0 when the row must take the general
// way, nothing done; -1 on error.
int note_plain_row(PlainClasses& classes, PyObject* row, PyObject* id, PyObject* old_id, PyObject* cnx) {
    const PlainClass* facts = classes.find(Py_TYPE(row));
    PyObject* store = facts && facts->sets_id_plainly ? plain_store(row) : nullptr;
    // Replacing an int runs no Python code.
    PyObject* old = store ? PyDict_GetItemWithError(store, py::id()) : nullptr;
    if (!old || !PyLong_CheckExact(old)) {
        PyErr_Clear();
        return 0;
    }
    if (RollbackScope* scope = RollbackScope::owning(cnx)) scope->record_id(row, old_id);
    return PyDict_SetItem(store, py::id(), id) == 0 ? 1 : -1;
}

// One INSERT ... RETURNING id for rows [first, first + count) of the run (at
// least two), then their ids noted in order.
bool insert_rows(Run& run, const std::vector<NewRow>& rows, PyObject* all_params, std::size_t first,
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
    run.classes.forget();  // the statement ran Python code
    for (std::size_t i = 0; i < count; ++i) {
        // The list is ours: noting a row (a cache's Insert) cannot change it.
        Ref id = Ref::steal(PySequence_GetItem(PyList_GET_ITEM(returned.get(), static_cast<Py_ssize_t>(i)), 0));
        const NewRow& stored = rows[first + i];
        if (!id) return false;
        const int plain = note_plain_row(run.classes, stored.row.get(), id.get(), stored.old_id.get(), cnx);
        if (plain) {
            if (plain < 0) return false;
            continue;
        }
        run.classes.forget();  // what follows may run Python code
        if (!note_stored_row(stored.row.get(), id.get(), stored.old_id.get(), cnx)) return false;
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

// The run's first row sets what the rows after it must share.
void begin_run(Run& run, PyObject* type, Ref table, Ref names, Py_ssize_t column_count) {
    run.type = Ref::borrow(type);
    run.table = std::move(table);
    run.names = std::move(names);
    run.column_count = column_count;
}

bool has_params_list(Run& run) { return run.params || (run.params = Ref::steal(PyList_New(0))); }

// `row`, its parameters already in run.params, joins the run.
void add_to_run(Run& run, PyObject* row, Ref old_id, std::size_t bytes) {
    run.rows.push_back(NewRow{Ref::borrow(row), std::move(old_id), bytes});
    run.members.insert(row);
}

// Adds `row` to the run when it can join it (the run is stored first when the
// row starts another).
Next join_run(Run& run, PyObject* row, PyObject* cnx, const RowWork& one_row) {
    // A row listed twice is stored by its first place; its second goes its own
    // way once the run is stored, as it would one row at a time.
    if (run.members.contains(row)) return Next::AfterRun;
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
        begin_run(run, type, std::move(table), std::move(names), column_count);
    }
    if (!has_params_list(run)) return Next::Failed;
    std::size_t bytes = 0;
    const Py_ssize_t before = PyList_GET_SIZE(run.params.get());
    if (!add_row_params(row, run.names.get(), foreign_ids.get(), run.params.get(), bytes)) return Next::Failed;
    if (PyList_GET_SIZE(run.params.get()) - before != column_count) {
        // The statement takes the values row by row: all rows must give as many.
        PyErr_Format(PyExc_RuntimeError, "COLUMN_NAMES of %.200s changed while its rows were being stored",
                     Py_TYPE(row)->tp_name);
        return Next::Failed;
    }
    add_to_run(run, row, std::move(id), bytes);
    return Next::Join;
}

// join_run() of a row of a plain class (rows/plain_classes.*) whose keys hold
// stored row objects or None, when it fits the run as it stands: the checks
// of batchable() and the values of add_row_params(), read straight from the
// stores, running no Python code. 1 joined; 0 when the row must take the
// general way, nothing done.
int join_plain(Run& run, PyObject* row) {
    PlainClasses& classes = run.classes;
    PyTypeObject* type = Py_TYPE(row);
    const PlainClass* facts = classes.find(type);
    if (!facts || !facts->batchable) return 0;
    if (!run.rows.empty() &&
        (run.type.get() != reinterpret_cast<PyObject*>(type) || run.table.get() != facts->table.get() ||
         run.names.get() != facts->names.get() || run.column_count != facts->column_count))
        return 0;
    PyObject* store = plain_store(row);
    if (!store) return 0;
    // Held through the lookups: a hostile key's __eq__ in a store could drop them.
    const Ref held_store = Ref::borrow(store);
    Ref id = Ref::borrow(PyDict_GetItemWithError(store, py::id()));
    if (!id || !server_assigns_id(id.get())) {
        PyErr_Clear();  // the general way reports it
        return 0;
    }
    run.key_ids.clear();
    for (const Ref& key : facts->keys) {
        // Held: the lookup in its store below may run a key's __eq__, which
        // could take it out of this row's store.
        const Ref target = Ref::borrow(PyDict_GetItemWithError(store, key.get()));
        if (target.get() == Py_None) {
            run.key_ids.push_back(Ref::borrow(Py_None));
            continue;
        }
        // An int is looked up; anything but a plain row object is item read's to judge.
        const PlainClass* target_facts =
            target && !PyLong_Check(target.get()) ? classes.find(Py_TYPE(target.get())) : nullptr;
        PyObject* target_store = target_facts ? plain_store(target.get()) : nullptr;
        PyObject* target_id = target_store ? PyDict_GetItemWithError(target_store, py::id()) : nullptr;
        if (!target_id || !PyLong_CheckExact(target_id) || not_stored(target_id) != 0) {
            PyErr_Clear();
            return 0;
        }
        run.key_ids.push_back(Ref::borrow(target_id));
    }
    run.values.clear();
    std::size_t bytes = kRowFrameBytes;
    PyObject* names = facts->names.get();
    for (Py_ssize_t i = 0; i < facts->column_count; ++i) {
        const Py_ssize_t key = facts->key_of_column[static_cast<std::size_t>(i)];
        Ref value;
        if (key >= 0) {
            value = Ref::borrow(run.key_ids[static_cast<std::size_t>(key)].get());
        } else if (PySequence_Fast_GET_SIZE(names) == facts->column_count) {
            // Read afresh and held for the lookup: a key's __eq__ run by the
            // one before may have changed the list.
            const Ref name = Ref::borrow(PySequence_Fast_ITEMS(names)[i]);
            value = Ref::borrow(PyDict_GetItemWithError(store, name.get()));
        }
        if (!value) {
            PyErr_Clear();
            return 0;
        }
        bytes += value_bytes(value.get());
        run.values.push_back(std::move(value));
    }
    if (run.rows.empty())
        begin_run(run, reinterpret_cast<PyObject*>(type), Ref::borrow(facts->table.get()),
                  Ref::borrow(facts->names.get()), facts->column_count);
    if (!has_params_list(run)) return -1;
    for (const Ref& value : run.values)
        if (PyList_Append(run.params.get(), value.get()) < 0) return -1;
    add_to_run(run, row, std::move(id), bytes);
    return 1;
}

// Stores `row` after the rows before it: in the run, or alone once the run
// is stored.
bool store_in_order(Run& run, PyObject* row, PyObject* cnx, const RowWork& one_row) {
    if (!run.members.contains(row)) {
        const int plain = join_plain(run, row);
        if (plain) return plain > 0;
    }
    run.classes.forget();  // what follows may run Python code
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
    // Python code may run between two rows: a row's preparation, or the
    // walk of an iterable other than a list or tuple.
    const bool code_between_rows = prepare || !(PyList_CheckExact(rows) || PyTuple_CheckExact(rows));
    const bool walked = each_item(rows, [&](PyObject* row) {
        if (code_between_rows) run.classes.forget();
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
