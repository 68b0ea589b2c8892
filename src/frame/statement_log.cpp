#include "frame/statement_log.hpp"

#include "frame/module_state.hpp"
#include "support/calls.hpp"
#include "support/errors.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// logging.getLogger("brx_sql") and the number logging.DEBUG, fetched at the
// first statement. Both are held for the life of the process, as the interned
// names are: the logging module never drops a logger either, and a release at
// exit would run after the interpreter is gone.
PyObject* g_logger = nullptr;
PyObject* g_debug = nullptr;

PyObject* statement_logger() {
    if (g_logger) return g_logger;
    Ref logging = Ref::steal(PyImport_ImportModule("logging"));
    if (!logging) return nullptr;
    Ref debug = get_attr(logging.get(), py::DEBUG());
    if (!debug) return nullptr;
    Ref logger = call_method(logging.get(), py::getLogger(), {py::brx_sql()});
    if (!logger) return nullptr;
    // The import may have let another thread fetch them first.
    if (!g_logger) {
        g_debug = debug.release();
        g_logger = logger.release();
    }
    return g_logger;
}

// logger.isEnabledFor(DEBUG): the logging module keeps its own answer per
// level, so the call is cheap, and no private state of it is read here.
int debug_enabled(PyObject* logger) {
    Ref answer = call_method(logger, py::isEnabledFor(), {g_debug});
    return answer ? truth(answer.get()) : -1;
}

// brx_sql.LOG_PARAMETERS, read at each logged statement; a module without
// the attribute logs them, as the default does.
int log_parameters() {
    PyObject* names = module_namespace();
    if (!names) return 1;
    Ref value = Ref::borrow(PyDict_GetItemWithError(names, py::LOG_PARAMETERS()));
    if (!value) return PyErr_Occurred() ? -1 : 1;
    return truth(value.get());
}

}  // namespace

bool bind_statement_log(PyObject* module) { return PyObject_SetAttr(module, py::LOG_PARAMETERS(), Py_True) == 0; }

bool log_statement(PyObject* statement, PyObject* params) {
    PyObject* logger = statement_logger();
    if (!logger) return false;
    const int enabled = debug_enabled(logger);
    if (enabled <= 0) return enabled == 0;
    // The text and the parameters travel as the record's arguments, so that
    // handlers can read them apart; " -- " keeps a copied line runnable SQL.
    Ref logged;
    if (params) {
        const int with_params = log_parameters();
        if (with_params < 0) return false;
        if (with_params) {
            logged = call_method(logger, py::debug(), {"%s -- parameters: %r"_id, statement, params});
            return static_cast<bool>(logged);
        }
    }
    logged = call_method(logger, py::debug(), {"%s"_id, statement});
    return static_cast<bool>(logged);
}

void log_warning(const char* message, PyObject* failure) noexcept {
    StashedError pending;
    PyObject* logger = statement_logger();
    if (!logger) return;
    Ref warning = get_attr(logger, py::warning());
    Ref text = Ref::steal(PyUnicode_FromString(message));
    Ref args = text ? Ref::steal(PyTuple_Pack(1, text.get())) : Ref();
    Ref keywords = Ref::steal(PyDict_New());
    if (!warning || !args || !keywords || PyDict_SetItem(keywords.get(), py::exc_info(), failure) < 0) return;
    Ref logged = Ref::steal(PyObject_Call(warning.get(), args.get(), keywords.get()));
}

}  // namespace brx
