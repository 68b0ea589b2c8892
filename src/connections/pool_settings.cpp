#include "connections/pool_settings.hpp"

#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

#include <chrono>
#include <cmath>

namespace brx {
namespace {

double now_seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The pool's dict id(connection) -> (connection, time of return); the
// connection in the value keeps its id from being reused while noted.
Ref return_times(PyObject* pool) {
    Ref times;
    if (lookup_attribute(pool, py::pool_returned(), times) > 0 && PyDict_Check(times.get())) return times;
    PyErr_Clear();
    return {};
}

}  // namespace

bool read_max_idle(PyObject* pool, Py_ssize_t& out) {
    Ref value = get_attr(pool, py::MAX_IDLE());
    if (!value) return false;
    if (!PyIndex_Check(value.get())) {
        PyErr_Format(PyExc_TypeError, "CNXPool.MAX_IDLE must be an integer, not %.200s", Py_TYPE(value.get())->tp_name);
        return false;
    }
    // Clamped: a huge value means no limit, not an overflow in every Put.
    out = PyNumber_AsSsize_t(value.get(), nullptr);
    if (out == -1 && PyErr_Occurred()) return false;
    if (out >= 0) return true;
    PyErr_Format(PyExc_ValueError, "CNXPool.MAX_IDLE must be 0 or more, not %R", value.get());
    return false;
}

bool read_ping_after(PyObject* pool, double& out) {
    Ref value = get_attr(pool, py::PING_AFTER());
    if (!value) return false;
    out = PyFloat_AsDouble(value.get());
    if (out == -1.0 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_OverflowError) && PyLong_Check(value.get())) {
            // An int too large for a float: longer than any wait, or the
            // negative value refused below.
            PyErr_Clear();
            Ref zero = Ref::steal(PyLong_FromLong(0));
            const int negative = zero ? PyObject_RichCompareBool(value.get(), zero.get(), Py_LT) : -1;
            if (negative < 0) return false;
            out = negative ? -HUGE_VAL : HUGE_VAL;
        } else {
            if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "CNXPool.PING_AFTER must be a number of seconds, not %.200s",
                         Py_TYPE(value.get())->tp_name);
            return false;
        }
    }
    if (out >= 0) return true;  // NaN fails this too
    PyErr_Format(PyExc_ValueError, "CNXPool.PING_AFTER must be a number of seconds, 0 or more, not %R", value.get());
    return false;
}

void record_return_time(PyObject* pool, PyObject* connection) {
    Ref times = return_times(pool);
    if (!times) return;
    Ref key = Ref::steal(PyLong_FromVoidPtr(connection));
    Ref when = Ref::steal(PyFloat_FromDouble(now_seconds()));
    Ref entry = key && when ? Ref::steal(PyTuple_Pack(2, connection, when.get())) : Ref();
    if (!entry || PyDict_SetItem(times.get(), key.get(), entry.get()) < 0) PyErr_Clear();
}

Ref take_return_time(PyObject* pool, PyObject* connection) {
    Ref times = return_times(pool);
    if (!times) return {};
    Ref key = Ref::steal(PyLong_FromVoidPtr(connection));
    if (!key) return {};
    Ref entry = Ref::borrow(PyDict_GetItemWithError(times.get(), key.get()));
    if (!entry) return {};
    if (PyDict_DelItem(times.get(), key.get()) < 0) return {};
    if (!PyTuple_Check(entry.get()) || PyTuple_GET_SIZE(entry.get()) != 2 ||
        PyTuple_GET_ITEM(entry.get(), 0) != connection)
        return {};
    return Ref::borrow(PyTuple_GET_ITEM(entry.get(), 1));
}

void forget_return_times(PyObject* pool) {
    if (Ref times = return_times(pool)) PyDict_Clear(times.get());
}

bool returned_within(PyObject* returned_at, double seconds) {
    if (seconds <= 0) return false;
    const double then = PyFloat_AsDouble(returned_at);
    if (then == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    return now_seconds() - then < seconds;
}

}  // namespace brx
