// CNXPool: a LIFO stock of idle connections. Its lock guards the idle list
// only: connecting, pinging and closing run outside it, so a slow connect or
// close holds up no other thread, and code run by them may use the pool.
#include "connections/connector_mode_warning.hpp"
#include "connections/pool_guard_methods.hpp"
#include "connections/pool_settings.hpp"
#include "frame/module_state.hpp"
#include "frame/statement_log.hpp"
#include "support/calls.hpp"
#include "support/errors.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"
#include "support/with_block.hpp"

namespace brx {
namespace {

// The settings as a fresh dict of keyword arguments for connect().
Ref connection_keywords(PyObject* settings) {
    if (PyDict_Check(settings)) return Ref::steal(PyDict_Copy(settings));
    if (settings == Py_None || !PyMapping_Check(settings)) {
        PyErr_Format(PyExc_TypeError, "argument after ** must be a mapping, not %.200s", Py_TYPE(settings)->tp_name);
        return {};
    }
    return call(reinterpret_cast<PyObject*>(&PyDict_Type), {settings});
}

Ref connect(PyObject* self) {
    Ref settings = get_attr(self, py::pool_dbconfig());
    if (!settings) return {};
    Ref keywords = connection_keywords(settings.get());
    if (!keywords) return {};
    Ref connector = global(py::_connector());
    if (!connector) return {};
    Ref connect_fn = get_attr(connector.get(), py::connect());
    if (!connect_fn) return {};
    Ref no_args = Ref::steal(PyTuple_New(0));
    if (!no_args) return {};
    Ref connection = Ref::steal(PyObject_Call(connect_fn.get(), no_args.get(), keywords.get()));
    if (!connection || !warn_if_c_extension_failed(connection.get(), keywords.get())) return {};
    return connection;
}

Ref pool_lock(PyObject* self) { return get_attr(self, py::pool_lock()); }

// An idle connection taken off the list, with when it was given back (null
// when the pool did not record it: a list filled from outside).
struct Taken {
    Ref connection;
    Ref returned_at;
};

// Under the lock: pops the most recently returned connection, if any.
bool take_idle(PyObject* self, Taken& taken) {
    Ref idle = get_attr(self, py::pool_pool());
    if (!idle) return false;
    const Py_ssize_t count = PyObject_Length(idle.get());
    if (count <= 0) return count == 0;
    taken.connection = call_method(idle.get(), py::pop(), {});
    if (!taken.connection) return false;
    taken.returned_at = take_return_time(self, taken.connection.get());
    return !PyErr_Occurred();
}

// Under the lock: appends the connection when the list holds fewer than
// `max_idle`; `kept` says whether it did.
bool keep_idle(PyObject* self, PyObject* connection, Py_ssize_t max_idle, bool& kept) {
    Ref idle = get_attr(self, py::pool_pool());
    if (!idle) return false;
    const Py_ssize_t count = PyObject_Length(idle.get());
    if (count < 0) return false;
    if (count >= max_idle) return true;
    if (!call_method(idle.get(), py::append(), {connection})) return false;
    kept = true;
    record_return_time(self, connection);
    return true;
}

// Closes a connection the pool drops; a failing close only loses the close.
void close_quietly(PyObject* connection) {
    StashedError pending;
    if (!call_method(connection, py::close(), {})) PyErr_Clear();
}

// The connection was used after the block that borrowed it had ended, and that
// use opened a transaction (the connector's flag, no round trip): lent as it
// is, the next borrower would read that transaction's old snapshot, and commit
// its writes with its own. Rolled back first; when that fails, the connection
// is closed and a new one made, as for a dead one.
Ref rolled_back_or_replaced(PyObject* self, Ref connection) {
    log_warning("A connection was used after its block ended: the transaction that use opened is rolled back "
                "before the connection is lent again",
                Py_None);
    if (!log_statement("ROLLBACK"_id, nullptr)) PyErr_WriteUnraisable(self);
    if (call_method(connection.get(), py::rollback(), {})) return connection;
    Ref failure = take_exception();
    close_quietly(connection.get());
    if (failure && !PyObject_TypeCheck(failure.get(), reinterpret_cast<PyTypeObject*>(PyExc_Exception))) {
        restore_exception(std::move(failure));  // an interrupt is the caller's
        return {};
    }
    log_warning("Rolling that transaction back failed: the connection is closed and a new one made",
                failure ? failure.get() : Py_None);
    forget_return_times(self);
    return connect(self);
}

// Whether the connection says it has a transaction open; an object that
// cannot tell is lent as before, and its guard finds out at the block's end.
bool in_transaction(PyObject* connection) {
    Ref open;
    if (lookup_attribute(connection, py::in_transaction(), open) <= 0) return false;
    const int is_open = truth(open.get());
    if (is_open < 0) PyErr_Clear();
    return is_open > 0;
}

// The connection taken, checked unless it came back within PING_AFTER; a
// dead one is closed and replaced by a new connection, and the other idle
// connections are checked when next lent, as they may be dead too.
Ref checked_or_replaced(PyObject* self, Taken& taken, double ping_after) {
    if (in_transaction(taken.connection.get())) return rolled_back_or_replaced(self, std::move(taken.connection));
    if (taken.returned_at && returned_within(taken.returned_at.get(), ping_after)) return std::move(taken.connection);
    Ref alive = call_method(taken.connection.get(), py::is_connected(), {});
    if (!alive) return {};
    const int is_alive = truth(alive.get());
    if (is_alive < 0) return {};
    if (is_alive) return std::move(taken.connection);
    forget_return_times(self);
    if (!call_method(taken.connection.get(), py::close(), {})) return {};
    return connect(self);
}

}  // namespace

Ref pool_init(Bound<sig::pool_init> args) {
    PyObject* self = args.get<"self">();
    Ref settings = args.extra_keywords() ? Ref::borrow(args.extra_keywords()) : Ref::steal(PyDict_New());
    if (!settings || PyObject_SetAttr(self, py::pool_dbconfig(), settings.get()) < 0) return {};
    Ref idle = Ref::steal(PyList_New(0));
    if (!idle || PyObject_SetAttr(self, py::pool_pool(), idle.get()) < 0) return {};
    Ref returned = Ref::steal(PyDict_New());
    if (!returned || PyObject_SetAttr(self, py::pool_returned(), returned.get()) < 0) return {};
    Ref lock_factory = global(py::_Lock());
    if (!lock_factory) return {};
    Ref lock = call(lock_factory.get(), {});
    if (!lock || PyObject_SetAttr(self, py::pool_lock(), lock.get()) < 0) return {};
    return none();
}

Ref pool_get(Bound<sig::pool_get> args) {
    PyObject* self = args.get<"self">();
    // Read before a connection is taken, so that a bad setting loses none.
    double ping_after = 0;
    if (!read_ping_after(self, ping_after)) return {};
    Ref lock = pool_lock(self);
    if (!lock) return {};
    Taken taken;
    if (!with_block(lock.get(), [&](PyObject*) { return take_idle(self, taken) ? none() : Ref(); })) return {};
    if (!taken.connection) return connect(self);
    return checked_or_replaced(self, taken, ping_after);
}

Ref pool_put(Bound<sig::pool_put> args) {
    PyObject* self = args.get<"self">();
    PyObject* connection = args.get<"connection">();
    Py_ssize_t max_idle = 0;
    bool kept = false;
    if (read_max_idle(self, max_idle)) {
        Ref lock = pool_lock(self);
        if (lock && with_block(lock.get(), [&](PyObject*) {
                return keep_idle(self, connection, max_idle, kept) ? none() : Ref();
            }))
            return kept || call_method(connection, py::close(), {}) ? none() : Ref();
    }
    // A connection the pool failed to keep is closed, not left open unowned.
    if (!kept) {
        StashedError failure;
        if (!call_method(connection, py::close(), {})) PyErr_Clear();
    }
    return {};
}

}  // namespace brx
