// Traceback entries for exceptions leaving the module's callables. The entry's
// frame uses the module namespace as its globals, so tools that inspect
// tracebacks see where the callable lives.
#include "frame/function.hpp"
#include "frame/module_state.hpp"
#include "support/errors.hpp"

#include <frameobject.h>

namespace brx {
namespace {

Ref make_code(const char* funcname) {
    return Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty("brx_sql", funcname, 1)));
}

void add_entry(PyObject* code) {
    PyObject* globals = module_namespace();
    Ref scratch_globals;
    if (!globals) {
        scratch_globals = Ref::steal(PyDict_New());
        globals = scratch_globals.get();
    }
    // The frame is built while the exception is stashed, so that failures of
    // building it cannot replace the exception being reported.
    PyFrameObject* frame = nullptr;
    {
        StashedError stash;
        if (globals)
            frame = PyFrame_New(PyThreadState_Get(), reinterpret_cast<PyCodeObject*>(code), globals, nullptr);
    }
    if (!frame) return;
    PyTraceBack_Here(frame);
    Py_DECREF(frame);
}

}  // namespace

void add_traceback_entry(Function& fn) noexcept {
    if (!fn.traceback_code) {
        // Built from Python objects alone: this runs after the body's catch,
        // where a C++ allocation failing would unwind into the interpreter.
        StashedError stash;
        Ref name = Ref::steal(PyUnicode_FromFormat("brx_sql.%U", fn.qualname));
        const char* text = name ? PyUnicode_AsUTF8(name.get()) : nullptr;
        if (text) fn.traceback_code = make_code(text).release();
    }
    if (!fn.traceback_code) return;
    add_entry(fn.traceback_code);
}

void add_traceback_entry(const char* funcname) noexcept {
    Ref code;
    {
        StashedError stash;
        code = make_code(funcname);
    }
    if (code) add_entry(code.get());
}

}  // namespace brx
