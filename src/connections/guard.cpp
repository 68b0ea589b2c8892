// CNXGuard: lends a connection for one `with` block; when it borrowed the
// connection itself, it ends the transaction and gives the connection back.
#include "connections/pool_guard_methods.hpp"

#include "module/calls.hpp"
#include "module/module_state.hpp"
#include "module/names.hpp"

namespace brx {

Ref guard_init(Bound<sig::guard_init> args) {
    PyObject* self = args.get<"self">();
    PyObject* cnx = args.get<"cnx">();
    Ref pool = Ref::borrow(args.get<"pool">());
    if (pool.get() == Py_None) {
        // The class bound to the module name, read now: later changes of
        // CNXGuard.POOL do not affect a guard already built.
        Ref guard_class = global("CNXGuard"_id);
        if (!guard_class) return {};
        pool = get_attr(guard_class.get(), "POOL"_id);
        if (!pool) return {};
    }
    if (PyObject_SetAttr(self, "_CNXGuard__pool"_id, pool.get()) < 0) return {};
    if (PyObject_SetAttr(self, "_CNXGuard__need_put"_id, cnx == Py_None ? Py_True : Py_False) < 0) return {};
    if (PyObject_SetAttr(self, "_CNXGuard__cnx"_id, cnx) < 0) return {};
    return none();
}

Ref guard_enter(Bound<sig::guard_enter> args) {
    PyObject* self = args.get<"self">();
    Ref need_put = get_attr(self, "_CNXGuard__need_put"_id);
    if (!need_put) return {};
    const int borrow = truth(need_put.get());
    if (borrow < 0) return {};
    if (borrow) {
        Ref pool = get_attr(self, "_CNXGuard__pool"_id);
        if (!pool) return {};
        Ref cnx = call_method(pool.get(), "Get"_id, {});
        if (!cnx || PyObject_SetAttr(self, "_CNXGuard__cnx"_id, cnx.get()) < 0) return {};
    }
    return get_attr(self, "_CNXGuard__cnx"_id);
}

Ref guard_exit(Bound<sig::guard_exit> args) {
    PyObject* self = args.get<"self">();
    PyObject* exception_type = args.get<"exception_type">();
    Ref need_put = get_attr(self, "_CNXGuard__need_put"_id);
    if (!need_put) return {};
    const int borrowed = truth(need_put.get());
    if (borrowed <= 0) return borrowed < 0 ? Ref() : none();

    Ref cnx = get_attr(self, "_CNXGuard__cnx"_id);
    if (!cnx) return {};
    Ref in_transaction = get_attr(cnx.get(), "in_transaction"_id);
    if (!in_transaction) return {};
    const int open = truth(in_transaction.get());
    if (open < 0) return {};
    if (open) {
        PyObject* end = exception_type == Py_None ? "commit"_id : "rollback"_id;
        if (!call_method(cnx.get(), end, {})) return {};
    }
    Ref pool = get_attr(self, "_CNXGuard__pool"_id);
    if (!pool) return {};
    if (!call_method(pool.get(), "Put"_id, {cnx.get()})) return {};
    return none();
}

}  // namespace brx
