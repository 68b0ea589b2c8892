#include "frame/module_state.hpp"



namespace brx {
namespace {
PyObject* g_module = nullptr;     // strong reference
PyObject* g_namespace = nullptr;  // borrowed from g_module
}  // namespace

PyObject* module_namespace() { return g_namespace; }
PyObject* current_module() { return g_module; }

void set_module(PyObject* module) {
    Py_XINCREF(module);
    PyObject* old = g_module;
    g_module = module;
    g_namespace = module ? PyModule_GetDict(module) : nullptr;
    Py_XDECREF(old);
}

Ref global(PyObject* name) {
    if (g_namespace) {
        PyObject* value = PyDict_GetItemWithError(g_namespace, name);
        if (value) return Ref::borrow(value);
        if (PyErr_Occurred()) return {};
    }
    PyObject* builtins = PyEval_GetBuiltins();
    if (builtins) {
        PyObject* value = PyDict_GetItemWithError(builtins, name);
        if (value) return Ref::borrow(value);
        if (PyErr_Occurred()) return {};
    }
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return {};
}

}  // namespace brx
