#include "module/calls.hpp"

#include <array>

namespace brx {
namespace {
constexpr std::size_t kStackArgs = 8;
}

Ref call(PyObject* callable, std::initializer_list<PyObject*> args) {
    // One spare slot in front lets callees prepend `self` without copying.
    std::array<PyObject*, kStackArgs + 1> stack{};
    std::size_t n = 0;
    for (PyObject* arg : args) stack[1 + n++] = arg;
    return Ref::steal(
        PyObject_Vectorcall(callable, stack.data() + 1, n | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

Ref call_method(PyObject* obj, PyObject* name, std::initializer_list<PyObject*> args) {
    std::array<PyObject*, kStackArgs + 1> stack{};
    stack[0] = obj;
    std::size_t n = 1;
    for (PyObject* arg : args) stack[n++] = arg;
    return Ref::steal(PyObject_VectorcallMethod(name, stack.data(), n | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

int lookup_attribute(PyObject* obj, PyObject* name, Ref& out) {
    if (!PyUnicode_Check(name)) {
        PyErr_SetString(PyExc_TypeError, "hasattr(): attribute name must be string");
        return -1;
    }
    out = Ref::steal(PyObject_GetAttr(obj, name));
    if (out) return 1;
    PyErr_Clear();
    return 0;
}

Ref format(PyObject* format, std::initializer_list<PyObject*> args) {
    Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(args.size())));
    if (!tuple) return {};
    Py_ssize_t i = 0;
    for (PyObject* arg : args) PyTuple_SET_ITEM(tuple.get(), i++, Py_NewRef(arg));
    return Ref::steal(PyUnicode_Format(format, tuple.get()));
}

}  // namespace brx
