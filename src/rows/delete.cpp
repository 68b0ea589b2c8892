// TableBase.Delete: removes the row with the rows of every multi-foreign entry
// pointing at it, through the class's cache when it has one. The row object
// itself keeps its identifier and values.
#include "rows/row_methods.hpp"

#include "connections/guard_block.hpp"
#include "rows/graph_transaction.hpp"

namespace brx {
namespace {

Ref delete_row(PyObject* self, PyObject* cnx) {
    Ref cache = get_attr(self, "CACHE"_id);
    if (!cache) return {};
    if (cache.get() != Py_None) {
        Ref table = get_attr(self, "TABLE_NAME"_id);
        if (!table) return {};
        return call_method(cache.get(), "Delete"_id, {self, table.get(), cnx});
    }
    Ref guard_class = global("CNXGuard"_id);
    if (!guard_class) return {};
    Ref delete_by_id = get_attr(guard_class.get(), "Delete"_id);
    if (!delete_by_id) return {};
    Ref id = Ref::steal(PyObject_GetItem(self, "id"_id));
    if (!id) return {};
    Ref table = get_attr(self, "TABLE_NAME"_id);
    if (!table) return {};
    return call(delete_by_id.get(), {id.get(), table.get(), cnx});
}

}  // namespace

Ref table_delete(Bound<sig::table_delete> args) {
    PyObject* self = args.get<"self">();
    Ref pool = call_method(self, "_TableBase__get_pool"_id, {args.get<"pool">()});
    if (!pool) return {};
    const bool owns_transaction = args.get<"cnx">() == Py_None;
    return with_guard(args.get<"cnx">(), pool.get(), [&](PyObject* cnx) -> Ref {
        if (owns_transaction && delete_may_write_several(self) && !begin_transaction_if_autocommit(cnx, pool.get()))
            return {};
        if (!call_method(self, "_TableBase__delete_multi_foreign_attr"_id, {cnx})) return {};
        if (!delete_row(self, cnx)) return {};
        return none();
    });
}

}  // namespace brx
