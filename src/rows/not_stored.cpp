#include "rows/not_stored.hpp"

namespace brx {

int not_stored(PyObject* id) {
    if (PyLong_CheckExact(id)) {
        int overflow = 0;
        const long long value = PyLong_AsLongLongAndOverflow(id, &overflow);
        if (value == -1 && !overflow && PyErr_Occurred()) return -1;
        return overflow ? overflow < 0 : value <= 0;
    }
    // Any other object compares as the interpreter compares it (a bool, an int
    // subclass, None failing with TypeError).
    Ref zero = Ref::steal(PyLong_FromLong(0));
    if (!zero) return -1;
    return PyObject_RichCompareBool(id, zero.get(), Py_LE);
}

bool server_assigns_id(PyObject* id) {
    if (!PyLong_CheckExact(id)) return false;
    int overflow = 0;
    return PyLong_AsLongLongAndOverflow(id, &overflow) == 0 && !overflow;
}

}  // namespace brx
