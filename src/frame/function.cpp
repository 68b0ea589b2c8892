// The function type shared by every method and module function.
#include "frame/function.hpp"

#include "frame/connector_errors.hpp"
#include "support/errors.hpp"
#include "support/names.hpp"
#include "support/python_names.hpp"

#include <structmember.h>

#include <string>

namespace brx {
namespace {

// A failed body's exception, a connector extension's own error raised as the
// connector's, with the traceback entry. Out of line: calls that succeed pay
// nothing for it.
[[gnu::cold, gnu::noinline]] PyObject* failed_call(Function& fn) {
    raise_as_connector_error();
    add_traceback_entry(fn);
    return nullptr;
}

}  // namespace

namespace detail {
bool enter_call(Function& fn) noexcept {
    if (Py_EnterRecursiveCall(" while calling a brx_sql function") == 0) return true;
    add_traceback_entry(fn);
    return false;
}

PyObject* leave_call(Function& fn, Ref result) noexcept {
    if (!result && !PyErr_Occurred())
        PyErr_SetString(PyExc_SystemError, "brx_sql callable failed without an exception");
    Py_LeaveRecursiveCall();
    if (!result) return failed_call(fn);
    return result.release();
}

void raise_cpp_exception() noexcept { raise_from_cpp_exception(); }
}  // namespace detail

namespace {

// Runs the body on bound arguments, counting the call's depth; adds the
// traceback entry when it fails (failed_call). Calls between the module's own
// callables never pass through the interpreter loop, so the depth is counted
// here: deep recursion over row graphs ends in RecursionError instead of
// overflowing the C stack.
PyObject* run_body(Function& fn, const Args& bound) {
    return run_as_call(fn, [&] { return fn.entry->body(bound); });
}

PyObject* bind_and_run(Function& fn, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Args bound;
    const bool positional_only = kwnames == nullptr && bind_positional(fn, args, nargs, bound);
    bool bound_ok = positional_only;
    if (!bound_ok) {
        try {
            bound_ok = bind_arguments(fn, args, nargs, kwnames, bound);
        } catch (...) {
            raise_from_cpp_exception();
        }
    }
    if (bound_ok) return run_body(fn, bound);
    add_traceback_entry(fn);
    return nullptr;
}

PyObject* function_vectorcall(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    return bind_and_run(*reinterpret_cast<Function*>(self), args, PyVectorcall_NARGS(nargsf), kwnames);
}

// Bound like a Python function: through an instance the instance becomes
// `self`; through the class (or with None) the function itself.
PyObject* function_descr_get(PyObject* self, PyObject* obj, PyObject*) {
    if (obj == nullptr || obj == Py_None) return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

void function_dealloc(PyObject* self) {
    auto* fn = reinterpret_cast<Function*>(self);
    Py_XDECREF(fn->name);
    Py_XDECREF(fn->qualname);
    Py_XDECREF(fn->defaults);
    Py_XDECREF(fn->doc);
    Py_XDECREF(fn->traceback_code);
    PyTypeObject* type = Py_TYPE(self);
    PyObject_Free(self);
    Py_DECREF(type);
}

PyObject* function_repr(PyObject* self) {
    return PyUnicode_FromFormat("<function %U at %p>", reinterpret_cast<Function*>(self)->qualname, self);
}

PyObject* get_name(PyObject* self, void*) { return Py_NewRef(reinterpret_cast<Function*>(self)->name); }
PyObject* get_qualname(PyObject* self, void*) {
    return Py_NewRef(reinterpret_cast<Function*>(self)->qualname);
}
PyObject* get_module(PyObject*, void*) { return Py_NewRef(py::brx_sql()); }
PyObject* get_defaults(PyObject* self, void*) {
    return Py_NewRef(reinterpret_cast<Function*>(self)->defaults);
}
PyObject* get_doc(PyObject* self, void*) { return Py_NewRef(reinterpret_cast<Function*>(self)->doc); }

Ref default_value(Default value) {
    switch (value) {
        case Default::None: return Ref::borrow(Py_None);
        case Default::True: return Ref::borrow(Py_True);
        case Default::False: return Ref::borrow(Py_False);
        case Default::One: return Ref::steal(PyLong_FromLong(1));
        case Default::Required: break;
    }
    return Ref::borrow(Py_None);
}

// inspect.Signature built from the declared parameters, for introspection.
PyObject* get_signature(PyObject* self, void*) {
    const Signature& declared = reinterpret_cast<Function*>(self)->entry->signature;
    Ref inspect = Ref::steal(PyImport_ImportModule("inspect"));
    if (!inspect) return nullptr;
    Ref parameter = Ref::steal(PyObject_GetAttrString(inspect.get(), "Parameter"));
    if (!parameter) return nullptr;
    Ref params = Ref::steal(PyList_New(0));
    if (!params) return nullptr;
    auto add = [&](const char* name, const char* kind_name, PyObject* def) -> bool {
        Ref kind = Ref::steal(PyObject_GetAttrString(parameter.get(), kind_name));
        if (!kind) return false;
        Ref kwargs = Ref::steal(def ? Py_BuildValue("{s:O}", "default", def) : PyDict_New());
        Ref posargs = Ref::steal(Py_BuildValue("(sO)", name, kind.get()));
        if (!kwargs || !posargs) return false;
        Ref param = Ref::steal(PyObject_Call(parameter.get(), posargs.get(), kwargs.get()));
        return param && PyList_Append(params.get(), param.get()) == 0;
    };
    for (std::size_t i = 0; i < declared.param_count(); ++i) {
        Ref def;
        if (declared.params[i].value != Default::Required) {
            def = default_value(declared.params[i].value);
            if (!def) return nullptr;
        }
        if (!add(declared.params[i].name, "POSITIONAL_OR_KEYWORD", def.get())) return nullptr;
    }
    if (declared.star && !add(declared.star, "VAR_POSITIONAL", nullptr)) return nullptr;
    if (declared.starstar && !add(declared.starstar, "VAR_KEYWORD", nullptr)) return nullptr;
    Ref signature = Ref::steal(PyObject_GetAttrString(inspect.get(), "Signature"));
    if (!signature) return nullptr;
    return PyObject_CallOneArg(signature.get(), params.get());
}

PyGetSetDef function_getset[] = {
    {"__name__", get_name, nullptr, nullptr, nullptr},
    {"__qualname__", get_qualname, nullptr, nullptr, nullptr},
    {"__module__", get_module, nullptr, nullptr, nullptr},
    {"__defaults__", get_defaults, nullptr, nullptr, nullptr},
    {"__doc__", get_doc, nullptr, nullptr, nullptr},
    {"__signature__", get_signature, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

Ref make_defaults(const Signature& signature) {
    const std::size_t count = signature.param_count() - signature.required_count();
    if (count == 0) return Ref::borrow(Py_None);
    Ref defaults = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(count)));
    if (!defaults) return {};
    for (std::size_t i = 0; i < count; ++i) {
        Ref value = default_value(signature.params[signature.required_count() + i].value);
        if (!value) return {};
        PyTuple_SET_ITEM(defaults.get(), static_cast<Py_ssize_t>(i), value.release());
    }
    return defaults;
}

}  // namespace

PyTypeObject* FunctionType = nullptr;

namespace {
#ifdef Py_TPFLAGS_IMMUTABLETYPE
constexpr unsigned long immutable_type_flag = Py_TPFLAGS_IMMUTABLETYPE;
#else
constexpr unsigned long immutable_type_flag = 0;
#endif
}  // namespace

PyObject* call_positional(Function& fn, PyObject* const* args, Py_ssize_t nargs) {
    Args bound;
    if (bind_positional(fn, args, nargs, bound)) return run_body(fn, bound);
    return bind_and_run(fn, args, nargs, nullptr);
}

bool ready_function_type() {
    if (FunctionType) return true;
    static PyMemberDef members[] = {
        {"__vectorcalloffset__", T_PYSSIZET, offsetof(Function, vectorcall), READONLY, nullptr},
        {nullptr, 0, 0, 0, nullptr},
    };
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(function_dealloc)},
        {Py_tp_repr, reinterpret_cast<void*>(function_repr)},
        {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
        {Py_tp_getset, function_getset},
        {Py_tp_members, members},
        {Py_tp_descr_get, reinterpret_cast<void*>(function_descr_get)},
        {0, nullptr},
    };
    // Immutable like the interpreter's own function types: the interpreter
    // then specializes method loads (obj.Method(...)) that find one of these.
    static PyType_Spec type_spec = {
        "brx_sql.function", sizeof(Function), 0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_METHOD_DESCRIPTOR | immutable_type_flag, slots,
    };
    FunctionType = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_spec));
    return FunctionType != nullptr;
}

Ref make_function(const CallableEntry& callable) {
    const Signature& signature = callable.signature;
    auto* fn = PyObject_New(Function, FunctionType);
    if (!fn) return {};
    fn->vectorcall = function_vectorcall;
    fn->entry = &callable;
    fn->positional = static_cast<Py_ssize_t>(signature.param_count());
    fn->required = static_cast<Py_ssize_t>(signature.required_count());
    fn->name = fn->qualname = fn->defaults = fn->doc = fn->traceback_code = nullptr;
    Ref owner = Ref::steal(reinterpret_cast<PyObject*>(fn));
    fn->name = PyUnicode_InternFromString(signature.name);
    std::string qualname = signature.owner ? std::string(signature.owner) + "." + signature.name : signature.name;
    fn->qualname = PyUnicode_FromString(qualname.c_str());
    fn->defaults = make_defaults(signature).release();
    fn->doc = signature.doc ? PyUnicode_FromString(signature.doc) : Py_NewRef(Py_None);
    if (!fn->name || !fn->qualname || !fn->defaults || !fn->doc) return {};
    return owner;
}

}  // namespace brx
