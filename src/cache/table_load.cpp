// Loading whole tables into the cache: the bulk load (one SELECT over one
// cursor, one row object built per row as it arrives) and the reloads.
#include "cache/cache_methods.hpp"
#include "cache/cache_state.hpp"
#include "cache/row_class.hpp"
#include "connections/guard_block.hpp"
#include "statements/column_order.hpp"
#include "statements/cursor.hpp"
#include "statements/statement_texts.hpp"
#include "support/calls.hpp"
#include "support/deferred_tracking.hpp"
#include "support/errors.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// rows[row[0]] = row_class(*row)
bool add_row(PyObject* rows, PyObject* row_class, PyObject* row, DeferredTracking& tracking) {
    Ref obj = call_with_row(row_class, row);
    if (!obj) return false;
    tracking.defer(obj.get());
    Ref key = PyTuple_CheckExact(row) && PyTuple_GET_SIZE(row) > 0 ? Ref::borrow(PyTuple_GET_ITEM(row, 0))
                                                                     : Ref::steal(PySequence_GetItem(row, 0));
    return key && store_entry(rows, key.get(), obj.get());
}

bool load_rows(PyObject* cnx, PyObject* pool, PyObject* table, PyObject* query, PyObject* rows,
               PyObject* row_class) {
    DeferredTracking tracking;
    Ref done = with_guard(cnx, pool, [&](PyObject* connection) -> Ref {
        Ref cursor = open_cursor(connection);
        if (!cursor || !execute_statement(cursor.get(), query)) return {};
        if (!check_column_order(row_class, table, cursor.get())) return {};
        const bool read = for_each_row(cursor.get(), [&](PyObject* row) {
            return add_row(rows, row_class, row, tracking) ? RowStep::Next : RowStep::Fail;
        });
        return read ? none() : Ref();
    });
    return static_cast<bool>(done);
}

// After a failed reload the table's rows are those held before it: the new
// dict is taken out again and the previous one (if any) put back, unless
// something else has replaced the entry meanwhile.
void restore_rows(PyObject* table_rows, PyObject* table, PyObject* fresh, PyObject* previous) {
    StashedError failure;
    Ref current;
    if (find_entry(table_rows, table, current) <= 0 || current.get() != fresh) return;
    if (previous)
        store_entry(table_rows, table, previous);
    else
        PyObject_DelItem(table_rows, table);
}

}  // namespace

// The loaded rows join the table's dict only once the whole load has
// succeeded: a load that fails part way leaves the cache as it was.
bool keep_loaded_rows(PyObject* rows, PyObject* loaded) {
    if (PyDict_CheckExact(rows)) return PyDict_Update(rows, loaded) == 0;
    return static_cast<bool>(call_method(rows, py::update(), {loaded}));
}

Ref cache_cache(Bound<sig::cache_cache> args) {
    PyObject* self = args.get<"self">();
    PyObject* table = args.get<"table">();
    Ref table_rows = table_rows_of(self);
    if (!table_rows) return {};
    Ref row_classes = row_classes_of(self);
    if (!row_classes) return {};
    Ref known_class;
    const int had_class = find_entry(row_classes.get(), table, known_class);
    if (had_class < 0) return {};
    Ref row_class = resolve_row_class(self, table, args.get<"_class">());
    if (!row_class) return {};
    Ref pool = resolve_pool(self, args.get<"pool">());
    Ref query = pool ? select_all_text(table) : Ref();
    Ref loaded = query ? Ref::steal(PyDict_New()) : Ref();
    if (!loaded || !load_rows(args.get<"cnx">(), pool.get(), table, query.get(), loaded.get(), row_class.get())) {
        if (!had_class) {
            StashedError failure;
            discard_entry(row_classes.get(), table);
        }
        return {};
    }
    // A table not cached yet takes the loaded dict itself.
    Ref present;
    const int cached = find_entry(table_rows.get(), table, present);
    if (cached < 0) return {};
    if (!cached) return store_entry(table_rows.get(), table, loaded.get()) ? std::move(loaded) : Ref();
    return keep_loaded_rows(present.get(), loaded.get()) ? std::move(present) : Ref();
}

Ref cache_refresh(Bound<sig::cache_refresh> args) {
    PyObject* self = args.get<"self">();
    PyObject* table = args.get<"table">();
    Ref row_classes = row_classes_of(self);
    if (!row_classes) return {};
    Ref row_class;
    const int registered = find_entry(row_classes.get(), table, row_class);
    if (registered <= 0) {
        if (registered == 0) {
            Ref message = format("Table %s has not been cached yet."_id, {table});
            if (message) PyErr_SetObject(PyExc_KeyError, message.get());
        }
        return {};
    }
    const int clear = truth(args.get<"clear">());
    if (clear < 0) return {};

    Ref table_rows, previous, fresh;
    int had_rows = 0;
    if (clear) {
        table_rows = table_rows_of(self);
        if (!table_rows) return {};
        had_rows = find_entry(table_rows.get(), table, previous);
        fresh = Ref::steal(PyDict_New());
        if (had_rows < 0 || !fresh || !store_entry(table_rows.get(), table, fresh.get())) return {};
    }
    if (!call_method(self, py::Cache(), {table, row_class.get(), args.get<"cnx">(), args.get<"pool">()})) {
        if (clear) restore_rows(table_rows.get(), table, fresh.get(), had_rows ? previous.get() : nullptr);
        return {};
    }
    return none();
}

Ref cache_update(Bound<sig::cache_update> args) {
    if (!call_method(args.get<"self">(), py::Refresh(), {args.get<"table">(), Py_False, args.get<"cnx">(), args.get<"pool">()})) return {};
    return none();
}

}  // namespace brx
