// InsertMany: stores many row objects, of one class or several, as Insert
// stores each of them, in list order, in one guarded block: consecutive new
// rows of one table share multi-row INSERTs where the server returns their
// ids (rows/batched_insert.*). All or nothing: after a failure no row of the
// call is left in the database, nor its id in a row object, nor its entry in
// a cache, whether the call borrowed its connection or was given the
// caller's.
#include "rows/batched_insert.hpp"
#include "rows/caller_transaction.hpp"
#include "rows/foreign_flag.hpp"
#include "rows/graph_transaction.hpp"
#include "rows/many_rows.hpp"
#include "rows/plain_classes.hpp"
#include "rows/row_methods.hpp"
#include "support/calls.hpp"
#include "support/python_names.hpp"

#include <vector>

namespace brx {
namespace {

constexpr ManyRowsCall kInsertMany{"InsertMany", "stores",
                                   "store them apart, or give the cnx or pool to store them with"};

// The rows stored in order on `cnx`; their ids in the same order.
Ref store_rows(const std::vector<Ref>& objects, PyObject* cnx) {
    // The rows as checked: a row's Insert may change the list it came in.
    Ref rows = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(objects.size())));
    if (!rows) return {};
    for (std::size_t i = 0; i < objects.size(); ++i)
        PyTuple_SET_ITEM(rows.get(), static_cast<Py_ssize_t>(i), Ref::borrow(objects[i].get()).release());
    const auto insert_one = [cnx](PyObject* row) { return static_cast<bool>(call_method(row, py::Insert(), {cnx})); };
    if (!store_new_rows(rows.get(), cnx, nullptr, insert_one)) return {};
    Ref ids = Ref::steal(PyList_New(static_cast<Py_ssize_t>(objects.size())));
    if (!ids) return {};
    PlainClasses classes;  // each id straight from its row's store where item read would give that
    for (std::size_t i = 0; i < objects.size(); ++i) {
        PyObject* id = Py_XNewRef(classes.plain_id(objects[i].get()));
        if (!id) {
            classes.forget();  // item read may run Python code
            if (!(id = PyObject_GetItem(objects[i].get(), py::id()))) return {};
        }
        PyList_SET_ITEM(ids.get(), static_cast<Py_ssize_t>(i), id);
    }
    return ids;
}

// Whether storing the rows may take more than one statement.
bool may_write_several(const std::vector<Ref>& objects) {
    if (objects.size() > 1) return true;
    Ref foreigns = foreign_key_columns(objects.front().get());
    if (!foreigns) {
        PyErr_Clear();  // the Insert reports it
        return true;
    }
    return insert_may_write_several(objects.front().get(), foreigns.get());
}

// On the caller's connection: the caller's transaction decides, and a failure
// takes back this call's part of it.
Ref store_on_callers_connection(const std::vector<Ref>& objects, PyObject* cnx) {
    CallerTransactionPart part;
    if (!part.begin(cnx)) return {};
    Ref ids = store_rows(objects, cnx);
    if (ids && part.finish()) return ids;
    part.undo();
    return {};
}

}  // namespace

Ref insert_many(Bound<sig::insert_many> args) {
    PyObject* const cnx = args.get<"cnx">();
    Ref rows;
    std::vector<Ref> objects;
    if (!row_objects(args.get<"rows">(), kInsertMany, rows, objects)) return {};
    if (objects.empty()) return Ref::steal(PyList_New(0));
    Ref pool = shared_pool(objects, cnx, args.get<"pool">(), kInsertMany);
    if (!pool) return {};
    // On a connection the call borrowed: one transaction of its own, even on
    // an autocommit pool. On the caller's: its rows are taken back from the
    // caller's transaction after a failure, and their ids and cache entries
    // put back.
    return graph_write(
        cnx, pool.get(), OnCallersConnection::WriteUndoesItsPart,
        [&] { return static_cast<int>(may_write_several(objects)); },
        [&](PyObject* block_cnx) {
            return cnx == Py_None ? store_rows(objects, block_cnx) : store_on_callers_connection(objects, block_cnx);
        });
}

}  // namespace brx
