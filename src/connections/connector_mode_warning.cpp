#include "connections/connector_mode_warning.hpp"

#include "support/calls.hpp"
#include "support/errors.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// The release the project pins and tests: its C extension loads on the
// machines whose OpenSSL the newest releases' wheels outgrew.
constexpr const char* kConnectorPin = "mysql-connector-python==9.7.0";

bool g_first_connection_seen = false;

int asked_for_pure(PyObject* keywords) {
    if (!PyDict_Check(keywords)) return 0;
    PyObject* use_pure = PyDict_GetItemWithError(keywords, py::use_pure());
    if (!use_pure) return PyErr_Occurred() ? -1 : 0;
    return truth(Ref::borrow(use_pure).get());
}

int is_pure_connection(PyObject* connection) {
    Ref module = Ref::steal(PyImport_ImportModule("mysql.connector.connection"));
    Ref pure_class = module ? Ref::steal(PyObject_GetAttrString(module.get(), "MySQLConnection")) : Ref();
    if (!pure_class) return -1;
    return PyObject_IsInstance(connection, pure_class.get());
}

// Whether an extension module `_mysql_connector` is installed at all.
int c_extension_shipped() {
    Ref util = Ref::steal(PyImport_ImportModule("importlib.util"));
    Ref spec = util ? call_method(util.get(), py::find_spec(), {py::_mysql_connector()}) : Ref();
    if (!spec) return -1;
    return spec.get() != Py_None;
}

// The import error of the C extension, or null when it imports after all.
Ref c_extension_import_error() {
    Ref module = Ref::steal(PyImport_Import(py::_mysql_connector()));
    if (module) return {};
    if (!PyErr_ExceptionMatches(PyExc_ImportError)) return {};
    Ref error = take_exception();
    return error ? Ref::steal(PyObject_Str(error.get())) : Ref();
}

void log_warning(PyObject* cause) {
    Ref message = Ref::steal(PyUnicode_FromFormat(
        "mysql.connector runs in pure Python, several times slower than with its C extension, which is "
        "installed but failed to load: %U. Install a release whose C extension loads on this machine "
        "(pip install \"%s\"), or pass use_pure=True to the pool to choose pure Python.",
        cause, kConnectorPin));
    Ref logging = message ? Ref::steal(PyImport_ImportModule("logging")) : Ref();
    Ref logger = logging ? call_method(logging.get(), py::getLogger(), {py::brx_sql()}) : Ref();
    if (logger) call_method(logger.get(), py::warning(), {message.get()});
}

}  // namespace

bool warn_if_c_extension_failed(PyObject* connection, PyObject* keywords) {
    if (g_first_connection_seen) return true;
    g_first_connection_seen = true;
    if (asked_for_pure(keywords) == 0 && is_pure_connection(connection) > 0 && c_extension_shipped() > 0) {
        if (Ref cause = c_extension_import_error()) log_warning(cause.get());
    }
    // Only an interrupt raised meanwhile is the caller's; anything else was
    // the warning's own failure.
    if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_Exception)) return false;
    PyErr_Clear();
    return true;
}

}  // namespace brx
