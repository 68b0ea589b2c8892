#include "connections/unread_close.hpp"

#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// 1 when `cnx` is an instance of the connector class, 0 not (also when its
// module was never imported, as the C extension's is not when it cannot
// load), -1 failed.
int is_instance_of(PyObject* cnx, const char* module_name, const char* class_name) {
    Ref name = Ref::steal(PyUnicode_FromString(module_name));
    Ref module = name ? Ref::steal(PyImport_GetModule(name.get())) : Ref();
    Ref cls = module ? Ref::steal(PyObject_GetAttrString(module.get(), class_name)) : Ref();
    if (!cls) {
        if (!name) return -1;
        PyErr_Clear();
        return 0;
    }
    return PyObject_IsInstance(cnx, cls.get());
}

// Ends the connection's exchange with the server without reading: the C
// extension's session object closes its socket at once (the connection's own
// close() finds it closed and frees the result without a read); the pure
// connection's shutdown() closes its socket.
bool cut_off(PyObject* cnx) {
    const int cext = is_instance_of(cnx, "mysql.connector.connection_cext", "CMySQLConnection");
    if (cext < 0) return false;
    if (cext) {
        Ref session;
        const int present = lookup_attribute(cnx, py::_cmysql(), session);
        if (present < 0) return false;
        return !present || session.get() == Py_None || call_method(session.get(), py::close(), {});
    }
    const int pure = is_instance_of(cnx, "mysql.connector.connection", "MySQLConnection");
    if (pure <= 0) return pure == 0;
    return static_cast<bool>(call_method(cnx, py::shutdown(), {}));
}

}  // namespace

bool close_unread(PyObject* cnx) {
    // Cutting off only spares the reading: when it fails, close() does it all.
    if (!cut_off(cnx)) PyErr_Clear();
    return static_cast<bool>(call_method(cnx, py::close(), {}));
}

}  // namespace brx
