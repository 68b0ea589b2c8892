// TableBase.Delete: removes the row with the rows of every multi-foreign entry
// pointing at it, through the class's cache when it has one. The row object
// itself keeps its identifier and values.
#include "connections/guard_block.hpp"
#include "rows/graph_transaction.hpp"
#include "rows/row_pool.hpp"
#include "rows/row_methods.hpp"
#include "statements/statement_texts.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

Ref delete_row(PyObject* self, PyObject* cnx) {
    Ref cache = get_attr(self, py::CACHE());
    if (!cache) return {};
    if (cache.get() != Py_None) {
        Ref table = get_attr(self, py::TABLE_NAME());
        if (!table) return {};
        return call_method(cache.get(), py::Delete(), {self, table.get(), cnx});
    }
    Ref delete_by_id = guard_class_attr(py::Delete());
    if (!delete_by_id) return {};
    Ref id = Ref::steal(PyObject_GetItem(self, py::id()));
    if (!id) return {};
    Ref table = get_attr(self, py::TABLE_NAME());
    if (!table) return {};
    return call(delete_by_id.get(), {id.get(), table.get(), cnx});
}

}  // namespace

Ref table_delete(Bound<sig::table_delete> args) {
    PyObject* self = args.get<"self">();
    Ref pool = row_pool(self, args.get<"pool">());
    if (!pool) return {};
    // Checked before the transaction starts: nothing is sent for a bad id.
    Ref id = Ref::steal(PyObject_GetItem(self, py::id()));
    if (!id || !require_integer_id(id.get(), "TableBase.Delete")) return {};
    const bool owns_transaction = args.get<"cnx">() == Py_None;
    return with_guard(args.get<"cnx">(), pool.get(), [&](PyObject* cnx) -> Ref {
        if (owns_transaction && delete_may_write_several(self) && !begin_transaction_if_autocommit(cnx, pool.get()))
            return {};
        if (!call_method(self, py::row_delete_multi_foreign_attr(), {cnx})) return {};
        if (!delete_row(self, cnx)) return {};
        return none();
    });
}

}  // namespace brx
