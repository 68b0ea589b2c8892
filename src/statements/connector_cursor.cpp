#include "statements/connector_cursor.hpp"

#include "support/calls.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// One connection class of the connector: the cursor() function of its
// connections and the classes that cursor() makes for a connection without
// cursor settings and for one made with buffered=True. Fetched at the first
// cursor and held for the life of the process (as the logger of the statement
// log is). Empty where the connector lacks one of them: the C-extension class
// where its extension cannot load, or names another release does not have.
struct ConnectorFamily {
    PyObject* cursor_fn = nullptr;
    PyObject* plain = nullptr;
    PyObject* buffered = nullptr;
};
ConnectorFamily g_pure;
ConnectorFamily g_cext;
bool g_known = false;

Ref module_attribute(const char* module_name, const char* name) {
    Ref module = Ref::steal(PyImport_ImportModule(module_name));
    return module ? Ref::steal(PyObject_GetAttrString(module.get(), name)) : Ref();
}

ConnectorFamily family(const char* connection_module, const char* connection_class, const char* cursor_module,
                       const char* plain_class, const char* buffered_class) {
    Ref cls = module_attribute(connection_module, connection_class);
    Ref cursor_fn = cls ? get_attr(cls.get(), py::cursor()) : Ref();
    Ref plain = cursor_fn ? module_attribute(cursor_module, plain_class) : Ref();
    Ref buffered = plain ? module_attribute(cursor_module, buffered_class) : Ref();
    if (!buffered) {
        PyErr_Clear();
        return {};
    }
    return ConnectorFamily{cursor_fn.release(), plain.release(), buffered.release()};
}

void know_families() {
    if (g_known) return;
    ConnectorFamily pure = family("mysql.connector.connection", "MySQLConnection", "mysql.connector.cursor",
                                  "MySQLCursor", "MySQLCursorBuffered");
    ConnectorFamily cext = family("mysql.connector.connection_cext", "CMySQLConnection",
                                  "mysql.connector.cursor_cext", "CMySQLCursor", "CMySQLCursorBuffered");
    // The imports may have let another thread get here first: then these
    // stay unused, and live on as the held ones do.
    if (g_known) return;
    g_pure = pure;
    g_cext = cext;
    g_known = true;
}

// The family whose own cursor() `method` (cnx.cursor, just read) is: not an
// override of a subclass, nor anything set on the instance.
const ConnectorFamily* family_of(PyObject* method, PyObject* cnx) {
    if (!PyMethod_Check(method) || PyMethod_GET_SELF(method) != cnx) return nullptr;
    PyObject* fn = PyMethod_GET_FUNCTION(method);
    for (const ConnectorFamily* known : {&g_pure, &g_cext})
        if (known->cursor_fn && fn == known->cursor_fn) return known;
    return nullptr;
}

// The class the connection's cursor() would make, read from the connection's
// cursor settings; null when they ask for another kind (raw rows) or cannot be
// read as this release keeps them.
PyObject* class_for_settings(PyObject* cnx, const ConnectorFamily& family) {
    Ref raw, buffered;
    if (lookup_attribute(cnx, py::connection_raw(), raw) <= 0 || raw.get() != Py_False) return nullptr;
    if (lookup_attribute(cnx, py::connection_buffered(), buffered) <= 0) return nullptr;
    if (buffered.get() == Py_False) return family.plain;
    return buffered.get() == Py_True ? family.buffered : nullptr;
}

}  // namespace

Ref cursor_without_ping(PyObject* cnx) {
    Ref method = get_attr(cnx, py::cursor());
    if (!method) return {};
    know_families();
    const ConnectorFamily* known = family_of(method.get(), cnx);
    PyObject* cls = known ? class_for_settings(cnx, *known) : nullptr;
    if (!cls) return call(method.get(), {});
    return call(cls, {cnx});
}

bool is_connector_cursor(PyObject* cursor) {
    know_families();
    PyObject* cls = reinterpret_cast<PyObject*>(Py_TYPE(cursor));
    for (const ConnectorFamily* known : {&g_pure, &g_cext})
        if (known->plain && (cls == known->plain || cls == known->buffered)) return true;
    return false;
}

}  // namespace brx
