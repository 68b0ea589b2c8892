// CNXGuard: lends a connection for one `with` block; when it borrowed the
// connection itself, it ends the transaction and gives the connection back.
//
// A borrowed connection goes back to the pool only when it is known to be fit
// for the next borrower. After an interrupt (an exception that is not an
// Exception: Ctrl-C, a signal handler's timeout) the connector may have
// stopped in the middle of a packet; after a lost connection there is nothing
// to talk to; after a read time-out the reply is still on its way. A ROLLBACK
// then reads garbage or waits for ever, and the next borrower gets the
// previous statement's answer. Such a connection is closed instead
// (connection_failures.hpp tells which failures these are). Whatever fails
// while the guard tidies up after a failed block is logged and the connection
// dropped, so the caller sees the block's own exception; once a commit has
// succeeded, the call has succeeded, and a failure to give the connection back
// is only logged.
#include "connections/connection_failures.hpp"
#include "connections/guard_block.hpp"
#include "connections/pool_guard_methods.hpp"
#include "connections/pool_settings.hpp"
#include "connections/unread_close.hpp"
#include "frame/statement_log.hpp"
#include "support/calls.hpp"
#include "support/errors.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// Closes a connection that will not be given back; a failing close is logged.
void close_dropped(PyObject* cnx) {
    StashedError pending;
    if (close_unread(cnx)) return;
    Ref failure = take_exception();
    log_warning("Closing a dropped connection failed", failure ? failure.get() : Py_None);
}

// After a failed block, a failure of the guard's own work (`failure`, just
// raised) is logged and forgotten, so that the block's exception is the one
// the caller gets. An interrupt arriving meanwhile is not swallowed: it is
// raised, with the block's exception as its context.
Ref drop_after_failed_block(const char* message, PyObject* cnx) {
    Ref failure = take_exception();
    log_warning(message, failure ? failure.get() : Py_None);
    if (cnx) close_dropped(cnx);
    if (failure && !PyObject_TypeCheck(failure.get(), reinterpret_cast<PyTypeObject*>(PyExc_Exception))) {
        restore_exception(std::move(failure));
        return {};
    }
    return none();
}

// 1 open, 0 none, -1 failed (exception set).
int transaction_open(PyObject* cnx) {
    Ref in_transaction = get_attr(cnx, py::in_transaction());
    return in_transaction ? truth(in_transaction.get()) : -1;
}

// The statement log shows how each borrowed block ended, as the COMMIT or
// ROLLBACK the connector sends. A failure of the log itself must not keep the
// connection from being ended and given back: it is reported as unraisable,
// as logging's own handler errors are printed and not raised.
void log_ending(PyObject* self, bool commit) {
    if (!log_statement(commit ? "COMMIT"_id : "ROLLBACK"_id, nullptr)) PyErr_WriteUnraisable(self);
}

// A connection found broken may have gone with the server or the network,
// and the pool's other idle connections with it: the pool checks each before
// lending it again, so that no call of its own fails on one of them.
void distrust_pool(PyObject* self) {
    StashedError pending;
    if (Ref pool = get_attr(self, py::guard_pool())) forget_return_times(pool.get());
}

Ref end_failed_block(PyObject* self, PyObject* cnx, PyObject* exception_type, PyObject* failure) {
    const ConnectionState state = connection_state_after(exception_type, failure);
    if (state != ConnectionState::Usable) {
        log_warning("Connection closed, not given back to its pool: the block ended by this exception", failure);
        close_dropped(cnx);
        if (state == ConnectionState::Broken) distrust_pool(self);
        return none();
    }
    const int open = transaction_open(cnx);
    if (open < 0) return drop_after_failed_block("Connection dropped: reading its transaction state failed", cnx);
    if (open) {
        log_ending(self, false);
        if (!call_method(cnx, py::rollback(), {}))
            return drop_after_failed_block("Connection dropped: its rollback failed", cnx);
    }
    Ref pool = get_attr(self, py::guard_pool());
    if (!pool || !call_method(pool.get(), py::Put(), {cnx}))
        return drop_after_failed_block("Connection dropped: giving it back to its pool failed", nullptr);
    return none();
}

Ref end_successful_block(PyObject* self, PyObject* cnx) {
    const int open = transaction_open(cnx);
    if (open < 0) return {};
    if (open) log_ending(self, true);
    if (open && !call_method(cnx, py::commit(), {})) {
        // Not given back: what the connection holds is unknown. Closed, so
        // that an open transaction does not keep its locks until collected.
        Ref failure = take_exception();
        const bool broken = failure && is_broken_connection_error(failure.get());
        restore_exception(std::move(failure));
        close_dropped(cnx);
        if (broken) distrust_pool(self);
        return {};
    }
    // Noted for guard_committed(). Failing only for want of memory, it is
    // not worth losing the connection over: the commit stands either way.
    if (PyObject_SetAttr(self, py::guard_committed(), Py_True) < 0) PyErr_Clear();
    Ref pool = get_attr(self, py::guard_pool());
    if (pool && call_method(pool.get(), py::Put(), {cnx})) return none();
    Ref failure = take_exception();
    log_warning("Committed, but giving the connection back to its pool failed; the connection is dropped",
                failure ? failure.get() : Py_None);
    // The call has succeeded. Only an interrupt is still raised, and the
    // caller can tell by guard_committed() that its work is stored.
    if (failure && !PyObject_TypeCheck(failure.get(), reinterpret_cast<PyTypeObject*>(PyExc_Exception))) {
        restore_exception(std::move(failure));
        return {};
    }
    return none();
}

}  // namespace

bool guard_committed(PyObject* guard) {
    StashedError pending;
    Ref committed;
    const bool noted = lookup_attribute(guard, py::guard_committed(), committed) > 0 && committed.get() == Py_True;
    PyErr_Clear();
    return noted;
}

Ref guard_init(Bound<sig::guard_init> args) {
    PyObject* self = args.get<"self">();
    PyObject* cnx = args.get<"cnx">();
    Ref pool = Ref::borrow(args.get<"pool">());
    if (pool.get() == Py_None) {
        // Read now: later changes of CNXGuard.POOL do not affect a guard
        // already built.
        pool = guard_class_attr(py::POOL());
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
        if (pool.get() == Py_None) {
            PyErr_SetString(PyExc_AttributeError,
                            "No connection pool to borrow from: set CNXGuard.POOL to a CNXPool, or pass one as the "
                            "pool argument (or a connection as cnx)");
            return {};
        }
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
    if (exception_type == Py_None) return end_successful_block(self, cnx.get());
    return end_failed_block(self, cnx.get(), exception_type, args.get<"exception_value">());
}

}  // namespace brx
