#include "connections/connection_failures.hpp"

#include "frame/connector_errors.hpp"
#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// Connector error numbers meaning the connection is gone or out of step with
// the server: server gone, lost, commands out of sync, malformed packet, lost
// (with a system error), and the pure-Python connector's read or write
// time-out, after which the reply is still on its way.
constexpr long kBrokenConnectionErrors[] = {2006, 2013, 2014, 2027, 2055, 3024};

// How far down a chain of wrapped connector errors the cause is looked for.
constexpr int kCauseDepth = 8;

// isinstance(failure, mysql.connector.<name>); false when it cannot be told.
bool is_connector_error(PyObject* failure, PyObject* class_name) {
    Ref connector = Ref::steal(PyImport_ImportModule("mysql.connector"));
    Ref cls = connector ? get_attr(connector.get(), class_name) : Ref();
    const int matches = cls ? PyObject_IsInstance(failure, cls.get()) : -1;
    if (matches < 0) PyErr_Clear();
    return matches > 0;
}

// The failure's errno: true with the number in `code`, or with `code` = -1
// when the connector gave none; false when it has no usable errno at all.
bool error_number(PyObject* failure, long& code) {
    Ref number;
    if (lookup_attribute(failure, py::errno_(), number) <= 0) return false;
    if (number.get() == Py_None) {
        code = -1;
        return true;
    }
    if (!PyLong_Check(number.get())) return false;
    int overflow = 0;
    code = PyLong_AsLongAndOverflow(number.get(), &overflow);
    if (code == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    return overflow == 0;
}

bool caused_by_extension(PyObject* failure) {
    Ref cause = Ref::steal(PyException_GetCause(failure));
    Ref extension_error = cause ? extension_error_class() : Ref();
    const int matches = extension_error ? PyObject_IsInstance(cause.get(), extension_error.get()) : 0;
    if (matches < 0) PyErr_Clear();
    return matches > 0;
}

// This one failure, not its causes.
bool breaks_connection(PyObject* failure) {
    if (PyObject_TypeCheck(failure, reinterpret_cast<PyTypeObject*>(PyExc_OSError))) return true;
    long code = 0;
    if (!error_number(failure, code)) return false;
    for (long broken : kBrokenConnectionErrors)
        if (code == broken) return true;
    if (code != -1) return false;
    // The connector's own failures without a number: "MySQL Connection not
    // available", a reply it could not parse. The C extension numbers every
    // failure of the connection; one it raised without (a value it cannot
    // convert), as the connector's InterfaceError, is no such failure.
    if (is_connector_error(failure, py::OperationalError())) return true;
    return is_connector_error(failure, py::InterfaceError()) && !caused_by_extension(failure);
}

}  // namespace

bool is_broken_connection_error(PyObject* failure) {
    Ref link = Ref::borrow(failure);
    for (int depth = 0; link && depth < kCauseDepth; ++depth) {
        if (breaks_connection(link.get())) return true;
        // Only the connector's own wrapping is followed: an application's
        // error raised from an OSError says nothing about the connection.
        if (!is_connector_error(link.get(), py::Error())) return false;
        link = Ref::steal(PyException_GetCause(link.get()));
    }
    return false;
}

ConnectionState connection_state_after(PyObject* exception_type, PyObject* failure) {
    const int ordinary = PyObject_IsSubclass(exception_type, PyExc_Exception);
    if (ordinary <= 0) {
        PyErr_Clear();
        return ConnectionState::Interrupted;
    }
    if (failure == Py_None || !PyExceptionInstance_Check(failure)) return ConnectionState::Usable;
    return is_broken_connection_error(failure) ? ConnectionState::Broken : ConnectionState::Usable;
}

}  // namespace brx
