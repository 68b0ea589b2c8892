// TableBase.Insert: stores a new row object after the unsaved rows its foreign
// keys point at, learns its identifier, registers it in its class's cache, then
// stores the rows of its loaded multi-foreign attributes pointing at it. All of
// one call runs on one connection. A row already stored is not written again,
// and nothing is deleted: only what around it is not stored yet gets stored.
#include "connections/guard_block.hpp"
#include "rows/graph_transaction.hpp"
#include "rows/multi_foreign_rows.hpp"
#include "rows/referenced_rows.hpp"
#include "rows/row_access.hpp"
#include "rows/row_methods.hpp"
#include "rows/single_row_insert.hpp"
#include "support/python_names.hpp"
#include "support/running_in_thread.hpp"

#include <optional>
#include <string>
#include <vector>

namespace brx {
namespace {

// Rows whose Insert is running in this thread. A row reached again through its
// own multi-foreign rows once it is stored is already being handled further
// out; going through it again would loop for ever on such a cycle.
struct InsertTag;
using InsertRunning = RunningInThread<InsertTag, PyObject*>;
// Those of them whose own INSERT is done: stored, whatever their id says (a
// negative id is stored as it is), while their lists are stored.
struct StoredTag;
using StoredRunning = RunningInThread<StoredTag, PyObject*>;

// INSERT of the row itself, then its identifier and cache registration.
Ref store_new_row(PyObject* self, PyObject* own_id, PyObject* foreigns, PyObject* foreign_ids, PyObject* cnx) {
    Ref values = insert_values(self, foreigns, foreign_ids);
    if (!values) return {};
    Ref insert = guard_class_attr(py::Insert());
    if (!insert) return {};
    Ref table = get_attr(self, py::TABLE_NAME());
    if (!table) return {};
    Ref names = get_attr(self, py::COLUMN_NAMES());
    if (!names) return {};
    Ref id = call(insert.get(), {table.get(), names.get(), values.get(), cnx});
    if (id) id = id_as_stored(std::move(id), own_id);
    if (!id || !note_stored_row(self, id.get(), own_id, cnx)) return {};
    return id;
}

Ref insert_in_block(PyObject* self, PyObject* cnx, PyObject* pool, PyObject* foreigns) {
    Ref foreign_ids = store_referenced_rows(self, foreigns, cnx, pool);
    if (!foreign_ids) return {};
    Ref id = Ref::steal(PyObject_GetItem(self, py::id()));
    if (!id) return {};
    const int is_new = not_stored(id.get());
    if (is_new < 0) return {};
    std::optional<StoredRunning> stored;
    if (is_new) {
        id = store_new_row(self, id.get(), foreigns, foreign_ids.get(), cnx);
        if (!id) return {};
        stored.emplace(self);
    }
    if (!call_method(self, py::row_insert_multi_foreign_attr(), {cnx})) return {};
    return id;
}

// The identifier of a stored row already being inserted further out in this
// thread, or null (no exception) when the row must go through Insert.
Ref identifier_if_handled(PyObject* self) {
    if (!InsertRunning::contains(self)) return {};
    Ref id = Ref::steal(PyObject_GetItem(self, py::id()));
    if (!id || StoredRunning::contains(self)) return id;
    const int is_new = not_stored(id.get());
    if (is_new != 0) return {};
    return id;
}

// Whether `self`, not stored yet, is reached again while every row on the way
// from its own Insert is still waiting for its referenced rows (none stored
// yet): their foreign keys point round in a cycle, and none of them can be
// inserted first. Raises RecursionError naming the classes on it. A cycle
// through a row stored meanwhile (a new row held in the list of the new row
// it points at) is not one: that row's Insert goes on.
bool refuse_cycle_of_new_rows(PyObject* self) {
    const std::vector<PyObject*> round = InsertRunning::since(self);
    if (round.empty()) return false;
    std::string classes;
    for (PyObject* row : round) {
        Ref id = Ref::steal(PyObject_GetItem(row, py::id()));
        const int is_new = id ? not_stored(id.get()) : -1;
        if (is_new <= 0 || StoredRunning::contains(row)) {
            PyErr_Clear();  // not a cycle this call can tell; Insert goes on and reports what it finds
            return false;
        }
        classes += Py_TYPE(row)->tp_name;
        classes += " -> ";
    }
    classes += Py_TYPE(self)->tp_name;
    PyErr_Format(PyExc_RecursionError,
                 "rows not stored yet refer to each other in a cycle of foreign keys (%s): none of them can be "
                 "inserted before the others; insert one with that key set to None, then set the key and Update it",
                 classes.c_str());
    return true;
}

Ref insert_row(PyObject* self, PyObject* cnx, PyObject* pool_arg) {
    if (Ref id = identifier_if_handled(self)) return id;
    if (PyErr_Occurred() || refuse_cycle_of_new_rows(self)) return {};
    InsertRunning mark(self);

    Ref pool = call_method(self, py::row_get_pool(), {pool_arg});
    if (!pool) return {};
    Ref foreigns = call_method(self, py::row_get_foreigns(), {});
    if (!foreigns) return {};
    return graph_write(
        cnx, pool.get(), OnCallersConnection::CallerDecides,
        [&] { return static_cast<int>(insert_may_write_several(self, foreigns.get())); },
        [&](PyObject* block_cnx) { return insert_in_block(self, block_cnx, pool.get(), foreigns.get()); });
}

}  // namespace

Ref table_insert(Bound<sig::table_insert> args) {
    // Rows not stored yet that refer to each other in a ring recurse without end.
    if (Py_EnterRecursiveCall(" while inserting a row")) return {};
    Ref id = insert_row(args.get<"self">(), args.get<"cnx">(), args.get<"pool">());
    Py_LeaveRecursiveCall();
    return id;
}

}  // namespace brx
