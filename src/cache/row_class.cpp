#include "cache/row_class.hpp"

#include "cache/cache_state.hpp"

namespace brx {

Ref resolve_row_class(PyObject* self, PyObject* table, PyObject* given) {
    Ref classes = row_classes_of(self);
    if (!classes) return {};
    if (given == Py_None) {
        Ref registered;
        const int found = find_entry(classes.get(), table, registered);
        if (found < 0) return {};
        if (found) return registered;
        PyErr_SetString(PyExc_ValueError, "We need a valid class object (argument 3) to construct row object.");
        return {};
    }
    Ref unused;
    const int found = find_entry(classes.get(), table, unused);
    if (found < 0) return {};
    if (!found && !store_entry(classes.get(), table, given)) return {};
    return Ref::borrow(given);
}

}  // namespace brx
