#include "statements/connector_cursor.hpp"

#include "support/calls.hpp"
#include "support/errors.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// The cursor() functions of the connector's connection classes and a callable
// answering True, fetched at the first cursor and held for the life of the
// process (as the logger of the statement log is). The C-extension class is
// missing where its extension cannot load.
struct ConnectorCursors {
    PyObject* pure = nullptr;
    PyObject* cext = nullptr;
    PyObject* answer_true = nullptr;
};
ConnectorCursors g_cursors;
bool g_known = false;

Ref class_cursor(const char* module_name, const char* class_name) {
    Ref module = Ref::steal(PyImport_ImportModule(module_name));
    Ref cls = module ? Ref::steal(PyObject_GetAttrString(module.get(), class_name)) : Ref();
    Ref fn = cls ? get_attr(cls.get(), py::cursor()) : Ref();
    if (!fn) PyErr_Clear();
    return fn;
}

bool know_connector_cursors() {
    if (g_known) return true;
    Ref answer_true = get_attr(Py_True, py::dunder_bool());
    if (!answer_true) return false;
    Ref pure = class_cursor("mysql.connector.connection", "MySQLConnection");
    Ref cext = class_cursor("mysql.connector.connection_cext", "CMySQLConnection");
    // The imports may have let another thread get here first: then these go.
    if (g_known) return true;
    g_cursors = ConnectorCursors{pure.release(), cext.release(), answer_true.release()};
    g_known = true;
    return true;
}

// The connection's cursor() is the connector's own.
int has_connector_cursor(PyObject* cnx) {
    if (!know_connector_cursors()) return -1;
    if (!g_cursors.pure && !g_cursors.cext) return 0;
    Ref fn = get_attr(reinterpret_cast<PyObject*>(Py_TYPE(cnx)), py::cursor());
    if (!fn) {
        PyErr_Clear();
        return 0;
    }
    return fn.get() == g_cursors.pure || fn.get() == g_cursors.cext;
}

// is_connected answered True by the instance for as long as this lives. A
// connection is used by one borrower at a time, so nothing else sees it.
class PingSkipped {
public:
    explicit PingSkipped(PyObject* cnx) : cnx_(cnx) {
        active_ = PyObject_SetAttr(cnx, py::is_connected(), g_cursors.answer_true) == 0;
    }
    ~PingSkipped() {
        if (!active_) return;
        StashedError kept;
        if (PyObject_DelAttr(cnx_, py::is_connected()) < 0) PyErr_Clear();
    }
    PingSkipped(const PingSkipped&) = delete;
    PingSkipped& operator=(const PingSkipped&) = delete;
    bool active() const { return active_; }

private:
    PyObject* cnx_;
    bool active_ = false;
};

}  // namespace

Ref cursor_without_ping(PyObject* cnx) {
    const int own = has_connector_cursor(cnx);
    if (own < 0) return {};
    if (!own) return call_method(cnx, py::cursor(), {});
    PingSkipped skipped(cnx);
    // An instance that takes no attribute keeps its ping.
    if (!skipped.active()) PyErr_Clear();
    return call_method(cnx, py::cursor(), {});
}

}  // namespace brx
