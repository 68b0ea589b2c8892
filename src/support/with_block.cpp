#include "support/with_block.hpp"

#include "support/calls.hpp"
#include "support/errors.hpp"
#include "support/names.hpp"
#include "support/python_internals.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

// obj.<special method>, found on the type as the interpreter does for `with`.
Ref lookup_special(PyObject* obj, PyObject* name) {
    PyObject* attr = internals::type_lookup(Py_TYPE(obj), name);
    if (!attr) return {};
    descrgetfunc get = Py_TYPE(attr)->tp_descr_get;
    if (!get) return Ref::borrow(attr);
    return Ref::steal(get(attr, obj, reinterpret_cast<PyObject*>(Py_TYPE(obj))));
}

}  // namespace

WithBlock::~WithBlock() {
    if (!exit_method_) return;
    StashedError stash;
    if (std::uncaught_exceptions() > unwinding_at_start_) {
        // A C++ exception is leaving the work: the block failed, so the
        // manager must see a failure (a guard rolls back, never commits).
        PyErr_SetString(PyExc_SystemError, "brx_sql internal error");
        Ref failure = take_exception();
        if (failure) {
            PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(failure.get()));
            Ref ignored = call(exit_method_.get(), {type, failure.get(), Py_None});
        }
        return;
    }
    // Every other path through the owner calls exit(); this only covers misuse.
    Ref ignored = call(exit_method_.get(), {Py_None, Py_None, Py_None});
}

bool WithBlock::enter(PyObject* manager) {
    Ref enter_method = lookup_special(manager, py::dunder_enter());
    if (!enter_method && !PyErr_Occurred()) {
        PyErr_Format(PyExc_TypeError, "'%.200s' object does not support the context manager protocol",
                     Py_TYPE(manager)->tp_name);
        return false;
    }
    if (!enter_method) return false;
    Ref exit_method = lookup_special(manager, py::dunder_exit());
    if (!exit_method) {
        if (!PyErr_Occurred())
            PyErr_Format(PyExc_TypeError,
                         "'%.200s' object does not support the context manager protocol (missed __exit__ method)",
                         Py_TYPE(manager)->tp_name);
        return false;
    }
    value_ = call(enter_method.get(), {});
    if (!value_) return false;
    exit_method_ = std::move(exit_method);
    return true;
}

Ref WithBlock::exit(Ref result) {
    Ref exit_method = std::move(exit_method_);
    if (result) {
        Ref outcome = call(exit_method.get(), {Py_None, Py_None, Py_None});
        if (!outcome) return {};
        return result;
    }
    Ref exc = take_exception();
    if (!exc) {
        PyErr_SetString(PyExc_SystemError, "block failed without an exception");
        return {};
    }
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exc.get()));
    Ref tb = Ref::steal(PyException_GetTraceback(exc.get()));
    Ref outcome = call(exit_method.get(), {type, exc.get(), tb ? tb.get() : Py_None});
    if (!outcome) {
        Ref raised = take_exception();
        if (raised && raised.get() != exc.get()) PyException_SetContext(raised.get(), exc.release());
        restore_exception(std::move(raised));
        return {};
    }
    const int suppress = PyObject_IsTrue(outcome.get());
    if (suppress < 0) return {};
    if (suppress) return none();
    restore_exception(std::move(exc));
    return {};
}

}  // namespace brx
