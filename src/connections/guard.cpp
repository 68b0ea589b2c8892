// CNXGuard: lends a connection for one `with` block; when it borrowed the
// connection itself, it ends the transaction and gives the connection back.
#include "connections/pool_guard_methods.hpp"
#include "module/module_state.hpp"
#include "statements/statement_log.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {

Ref guard_init(Bound<sig::guard_init> args) {
    PyObject* self = args.get<"self">();
    PyObject* cnx = args.get<"cnx">();
    Ref pool = Ref::borrow(args.get<"pool">());
    if (pool.get() == Py_None) {
        // The class bound to the module name, read now: later changes of
        // CNXGuard.POOL do not affect a guard already built.
        Ref guard_class = global(py::CNXGuard());
        if (!guard_class) return {};
        pool = get_attr(guard_class.get(), py::POOL());
        if (!pool) return {};
    }
    if (PyObject_SetAttr(self, py::guard_pool(), pool.get()) < 0) return {};
    if (PyObject_SetAttr(self, py::guard_need_put(), cnx == Py_None ? Py_True : Py_False) < 0) return {};
    if (PyObject_SetAttr(self, py::guard_cnx(), cnx) < 0) return {};
    return none();
}

Ref guard_enter(Bound<sig::guard_enter> args) {
    PyObject* self = args.get<"self">();
    Ref need_put = get_attr(self, py::guard_need_put());
    if (!need_put) return {};
    const int borrow = truth(need_put.get());
    if (borrow < 0) return {};
    if (borrow) {
        Ref pool = get_attr(self, py::guard_pool());
        if (!pool) return {};
        Ref cnx = call_method(pool.get(), py::Get(), {});
        if (!cnx || PyObject_SetAttr(self, py::guard_cnx(), cnx.get()) < 0) return {};
    }
    return get_attr(self, py::guard_cnx());
}

Ref guard_exit(Bound<sig::guard_exit> args) {
    PyObject* self = args.get<"self">();
    PyObject* exception_type = args.get<"exception_type">();
    Ref need_put = get_attr(self, py::guard_need_put());
    if (!need_put) return {};
    const int borrowed = truth(need_put.get());
    if (borrowed <= 0) return borrowed < 0 ? Ref() : none();

    Ref cnx = get_attr(self, py::guard_cnx());
    if (!cnx) return {};
    Ref in_transaction = get_attr(cnx.get(), py::in_transaction());
    if (!in_transaction) return {};
    const int open = truth(in_transaction.get());
    if (open < 0) return {};
    if (open) {
        const bool commit = exception_type == Py_None;
        // The statement log shows how each borrowed block ended, as the
        // COMMIT or ROLLBACK the connector sends for these calls. A failure
        // of the log itself must not keep the connection from being ended
        // and given back: it is reported as unraisable, as logging's own
        // handler errors are printed and not raised.
        if (!log_statement(commit ? "COMMIT"_id : "ROLLBACK"_id, nullptr)) PyErr_WriteUnraisable(self);
        if (!call_method(cnx.get(), commit ? py::commit() : py::rollback(), {})) return {};
    }
    Ref pool = get_attr(self, py::guard_pool());
    if (!pool) return {};
    if (!call_method(pool.get(), py::Put(), {cnx.get()})) return {};
    return none();
}

}  // namespace brx
