// Keeping an exception aside while other work runs, across the API change of
// CPython 3.12 (one exception object instead of a type/value/traceback triple).
#pragma once

#include "support/ref.hpp"

namespace brx {

// Takes the current exception (if any) on construction and puts it back on
// destruction, replacing whatever was raised in between.
class StashedError {
public:
    StashedError() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
        exc_ = PyErr_GetRaisedException();
#else
        PyErr_Fetch(&type_, &value_, &tb_);
#endif
    }
    StashedError(const StashedError&) = delete;
    StashedError& operator=(const StashedError&) = delete;
    ~StashedError() {
        PyErr_Clear();
#if PY_VERSION_HEX >= 0x030C0000
        PyErr_SetRaisedException(exc_);
#else
        PyErr_Restore(type_, value_, tb_);
#endif
    }

private:
#if PY_VERSION_HEX >= 0x030C0000
    PyObject* exc_ = nullptr;
#else
    PyObject* type_ = nullptr;
    PyObject* value_ = nullptr;
    PyObject* tb_ = nullptr;
#endif
};

// The current exception as one normalised object (type, value, traceback
// reachable from it); the error indicator is cleared. Null when none is set.
Ref take_exception();
// Raises `exc` again (steals it).
void restore_exception(Ref exc);

// The exception being raised is an interrupt, not an Exception: Ctrl-C
// (KeyboardInterrupt), SystemExit, or a signal handler's own BaseException.
// Work stops at once then, and reads nothing more from the server.
inline bool interrupt_pending() noexcept {
    return PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_Exception);
}

// Turns the C++ exception being handled into a Python one (MemoryError for an
// allocation failure); call only inside a catch block. Nothing thrown in C++
// may unwind into the interpreter.
void raise_from_cpp_exception() noexcept;

}  // namespace brx
