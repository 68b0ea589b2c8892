// Module definition and its two-phase initialisation (create, then exec).
#include "frame/function.hpp"
#include "frame/module_state.hpp"
#include "frame/statement_log.hpp"
#include "module/classes.hpp"
#include "support/errors.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

#include <cstdio>
#include <cstdlib>

namespace brx {
namespace {

// The module can only live in one interpreter per process: its classes and
// function objects are process-wide.
std::int64_t g_interpreter_id = -1;

bool check_interpreter() {
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) return false;
    if (g_interpreter_id == -1) {
        g_interpreter_id = id;
        return true;
    }
    if (g_interpreter_id == id) return true;
    PyErr_SetString(PyExc_ImportError,
                    "Interpreter change detected - this module can only be loaded into one interpreter per process.");
    return false;
}

bool copy_spec_attribute(PyObject* spec, const char* from, PyObject* module, const char* to, bool none_ok) {
    Ref value = Ref::steal(PyObject_GetAttrString(spec, from));
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        return true;
    }
    if (!none_ok && value.get() == Py_None) return true;
    return PyObject_SetAttrString(module, to, value.get()) == 0;
}

PyObject* module_create(PyObject* spec, PyModuleDef*) {
    if (!check_interpreter()) return nullptr;
    if (PyObject* existing = current_module()) return Py_NewRef(existing);
    Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
    if (!name) return nullptr;
    Ref module = Ref::steal(PyModule_NewObject(name.get()));
    if (!module) return nullptr;
    if (!copy_spec_attribute(spec, "loader", module.get(), "__loader__", true) ||
        !copy_spec_attribute(spec, "origin", module.get(), "__file__", true) ||
        !copy_spec_attribute(spec, "parent", module.get(), "__package__", true) ||
        !copy_spec_attribute(spec, "submodule_search_locations", module.get(), "__path__", false))
        return nullptr;
    return module.release();
}

// Warns when the running interpreter differs from the one the module was
// compiled against; an error only when warnings are turned into errors.
bool check_version() {
    int major = 0, minor = 0;
    if (std::sscanf(Py_GetVersion(), "%d.%d", &major, &minor) != 2) return true;
    if (major == PY_MAJOR_VERSION && minor == PY_MINOR_VERSION) return true;
    char message[200];
    std::snprintf(message, sizeof message, "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                  PY_MAJOR_VERSION, PY_MINOR_VERSION, "brx_sql", "does not match", major, minor);
    return PyErr_WarnEx(nullptr, message, 1) == 0;
}

bool check_builtins() {
    for (PyObject* name : {py::staticmethod(), py::KeyError(), py::ValueError(), py::zip(), py::AttributeError()}) {
        if (!global(name)) return false;
    }
    return true;
}

bool import_connector(PyObject* module) {
    Ref connector = Ref::steal(PyImport_ImportModule("mysql.connector"));
    return connector && PyObject_SetAttrString(module, "_connector", connector.get()) == 0;
}

bool import_lock(PyObject* module) {
    Ref fromlist = Ref::steal(Py_BuildValue("(s)", "Lock"));
    if (!fromlist) return false;
    Ref threading =
        Ref::steal(PyImport_ImportModuleLevel("threading", PyModule_GetDict(module), nullptr, fromlist.get(), 0));
    if (!threading) return false;
    Ref lock = Ref::steal(PyObject_GetAttrString(threading.get(), "Lock"));
    if (!lock) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        PyObject* modules = PyImport_GetModuleDict();
        lock = Ref::borrow(PyDict_GetItemString(modules, "threading.Lock"));
        if (!lock) {
            PyErr_Format(PyExc_ImportError, "cannot import name %S", py::Lock());
            return false;
        }
    }
    return PyObject_SetAttrString(module, "_Lock", lock.get()) == 0;
}

// The distribution's version, handed over by the build (see CMakeLists.txt).
#ifndef BRX_VERSION
#error "BRX_VERSION is defined by the CMake build, from the version in pyproject.toml"
#endif

bool bind_version(PyObject* module) {
    Ref version = Ref::steal(PyUnicode_FromString(BRX_VERSION));
    return version && PyObject_SetAttr(module, py::dunder_version(), version.get()) == 0;
}

bool register_in_module_table(PyObject* module) {
    PyObject* modules = PyImport_GetModuleDict();
    PyObject* present = PyDict_GetItemWithError(modules, py::brx_sql());
    if (present) return true;
    if (PyErr_Occurred()) return false;
    return PyDict_SetItem(modules, py::brx_sql(), module) == 0;
}

bool exec_steps(PyObject* module) {
    Ref builtins = Ref::steal(PyImport_ImportModule("builtins"));
    if (!builtins || PyObject_SetAttrString(module, "__builtins__", builtins.get()) < 0) return false;
    if (!check_version()) return false;
    if (!ready_function_type()) return false;
    if (!register_in_module_table(module)) return false;
    if (!check_builtins()) return false;
    if (!import_connector(module) || !import_lock(module)) return false;
    if (!bind_classes(module) || !bind_functions(module)) return false;
    if (!bind_statement_log(module) || !bind_version(module)) return false;
    Ref test = Ref::steal(PyDict_New());
    return test && PyObject_SetAttrString(module, "__test__", test.get()) == 0;
}

int module_exec(PyObject* module) {
    if (PyObject* existing = current_module()) {
        if (existing == module) return 0;
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'brx_sql' has already been imported. Re-initialisation is not supported.");
        return -1;
    }
    // Names are interned before the module is remembered: the traceback entry
    // of a failed exec needs nothing from the half-made module.
    if (!intern_all_names()) return -1;
    set_module(module);
    bool done = false;
    try {
        done = exec_steps(module);
    } catch (...) {
        raise_from_cpp_exception();
    }
    if (done) return 0;
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_ImportError, "init brx_sql");
    add_traceback_entry("init brx_sql");
    set_module(nullptr);
    return -1;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(module_create)},
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
#if PY_VERSION_HEX >= 0x030C0000
    // Declared so that any interpreter reaches the create step, whose own
    // check refuses every interpreter but the first with a clear message.
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
    {0, nullptr},
};

PyMethodDef module_methods[] = {{nullptr, nullptr, 0, nullptr}};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "brx_sql", nullptr, 0, module_methods, module_slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace brx

PyMODINIT_FUNC PyInit_brx_sql() { return PyModuleDef_Init(&brx::module_def); }
