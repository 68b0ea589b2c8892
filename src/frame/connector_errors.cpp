#include "frame/connector_errors.hpp"

#include "support/calls.hpp"
#include "support/errors.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

namespace brx {
namespace {

Ref attribute_or_none(PyObject* obj, PyObject* name) {
    Ref value;
    if (lookup_attribute(obj, name, value) > 0) return value;
    return Ref::borrow(Py_None);
}

// The connector's error for the extension's `original`, or null (exception set).
Ref connector_error_for(PyObject* original) {
    Ref errors = Ref::steal(PyImport_ImportModule("mysql.connector.errors"));
    if (!errors) return {};
    Ref number;
    if (lookup_attribute(original, py::errno_(), number) <= 0) {
        Ref interface_error = get_attr(errors.get(), py::InterfaceError());
        Ref text = Ref::steal(PyObject_Str(original));
        return interface_error && text ? call(interface_error.get(), {text.get()}) : Ref();
    }
    Ref mapping = get_attr(errors.get(), py::get_mysql_exception());
    Ref message = attribute_or_none(original, py::msg());
    Ref state = attribute_or_none(original, py::sqlstate());
    Ref args = Ref::steal(PyTuple_Pack(1, number.get()));
    Ref keywords = Ref::steal(PyDict_New());
    if (!mapping || !args || !keywords || PyDict_SetItem(keywords.get(), py::msg(), message.get()) < 0 ||
        PyDict_SetItem(keywords.get(), py::sqlstate(), state.get()) < 0)
        return {};
    Ref error = Ref::steal(PyObject_Call(mapping.get(), args.get(), keywords.get()));
    if (error && !PyExceptionInstance_Check(error.get())) {
        PyErr_SetString(PyExc_TypeError, "get_mysql_exception returned no exception");
        return {};
    }
    return error;
}

}  // namespace

Ref extension_error_class() {
    Ref module = Ref::steal(PyImport_GetModule(py::_mysql_connector()));
    if (!module) {
        PyErr_Clear();
        return {};
    }
    Ref cls;
    if (lookup_attribute(module.get(), py::MySQLError(), cls) > 0 && PyExceptionClass_Check(cls.get())) return cls;
    if (lookup_attribute(module.get(), py::MySQLInterfaceError(), cls) > 0 && PyExceptionClass_Check(cls.get()))
        return cls;
    return {};
}

void raise_as_connector_error() {
    if (!PyErr_Occurred()) return;
    Ref cls;
    {
        StashedError pending;  // the lookups must not see, nor replace, the exception
        cls = extension_error_class();
    }
    if (!cls || !PyErr_ExceptionMatches(cls.get())) return;
    Ref original = take_exception();
    Ref replacement = original ? connector_error_for(original.get()) : Ref();
    if (!replacement) {
        PyErr_Clear();
        restore_exception(std::move(original));
        return;
    }
    PyException_SetContext(replacement.get(), Py_NewRef(original.get()));
    PyException_SetCause(replacement.get(), original.release());
    restore_exception(std::move(replacement));
}

}  // namespace brx
