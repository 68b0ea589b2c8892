// CNXPool: a lock-guarded LIFO stock of at most three idle connections.
#include "connections/pool_guard_methods.hpp"
#include "module/module_state.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"
#include "support/with_block.hpp"

namespace brx {
namespace {

constexpr Py_ssize_t kMaxIdle = 3;

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
    return Ref::steal(PyObject_Call(connect_fn.get(), no_args.get(), keywords.get()));
}

// Pops the most recently returned idle connection and checks it; a dead one
// is closed and replaced by a new connection.
Ref take_or_connect(PyObject* self) {
    Ref idle = get_attr(self, py::pool_pool());
    if (!idle) return {};
    const Py_ssize_t count = PyObject_Length(idle.get());
    if (count < 0) return {};
    if (count == 0) return connect(self);
    Ref connection = call_method(idle.get(), py::pop(), {});
    if (!connection) return {};
    Ref alive = call_method(connection.get(), py::is_connected(), {});
    if (!alive) return {};
    const int is_alive = truth(alive.get());
    if (is_alive < 0) return {};
    if (is_alive) return connection;
    if (!call_method(connection.get(), py::close(), {})) return {};
    return connect(self);
}

Ref give_back(PyObject* self, PyObject* connection) {
    Ref idle = get_attr(self, py::pool_pool());
    if (!idle) return {};
    const Py_ssize_t count = PyObject_Length(idle.get());
    if (count < 0) return {};
    if (count >= kMaxIdle) return call_method(connection, py::close(), {}) ? none() : Ref();
    return call_method(idle.get(), py::append(), {connection}) ? none() : Ref();
}

Ref pool_lock(PyObject* self) { return get_attr(self, py::pool_lock()); }

}  // namespace

Ref pool_init(Bound<sig::pool_init> args) {
    PyObject* self = args.get<"self">();
    Ref settings = args.extra_keywords() ? Ref::borrow(args.extra_keywords()) : Ref::steal(PyDict_New());
    if (!settings || PyObject_SetAttr(self, py::pool_dbconfig(), settings.get()) < 0) return {};
    Ref idle = Ref::steal(PyList_New(0));
    if (!idle || PyObject_SetAttr(self, py::pool_pool(), idle.get()) < 0) return {};
    Ref lock_factory = global(py::_Lock());
    if (!lock_factory) return {};
    Ref lock = call(lock_factory.get(), {});
    if (!lock || PyObject_SetAttr(self, py::pool_lock(), lock.get()) < 0) return {};
    return none();
}

Ref pool_get(Bound<sig::pool_get> args) {
    PyObject* self = args.get<"self">();
    Ref lock = pool_lock(self);
    if (!lock) return {};
    return with_block(lock.get(), [&](PyObject*) { return take_or_connect(self); });
}

Ref pool_put(Bound<sig::pool_put> args) {
    PyObject* self = args.get<"self">();
    Ref lock = pool_lock(self);
    if (!lock) return {};
    return with_block(lock.get(), [&](PyObject*) { return give_back(self, args.get<"connection">()); });
}

}  // namespace brx
