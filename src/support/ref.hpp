// Owning and borrowed Python references.
//
// Rules of use, written once:
//  * A `Ref` owns exactly one strong reference, or nothing. It is move-only and
//    releases its reference in its destructor. Every new reference that code in
//    this module receives (a call result, a new object) goes straight into a Ref.
//  * A plain `PyObject*` is always borrowed: valid only while something else
//    keeps the object alive (an argument, a Ref, a container we hold).
//  * A null Ref returned from a function means "a Python exception is set".
//  * `Ref::steal` adopts a new reference; `Ref::borrow` takes a new one.
//    `release()` hands the reference over to a C API that steals it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

#if PY_VERSION_HEX < 0x030A0000
static inline PyObject* Py_NewRef(PyObject* obj) {
    Py_INCREF(obj);
    return obj;
}
static inline PyObject* Py_XNewRef(PyObject* obj) {
    Py_XINCREF(obj);
    return obj;
}
#endif

namespace brx {

class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        Ref old(std::move(*this));
        obj_ = std::exchange(other.obj_, nullptr);
        return *this;
    }
    ~Ref() { Py_XDECREF(obj_); }

    // Adopts a new reference (possibly null, when the producing call failed).
    static Ref steal(PyObject* obj) noexcept { return Ref(obj); }
    // Takes a new reference to a borrowed object (null stays null).
    static Ref borrow(PyObject* obj) noexcept {
        Py_XINCREF(obj);
        return Ref(obj);
    }

    PyObject* get() const noexcept { return obj_; }
    PyObject* release() noexcept { return std::exchange(obj_, nullptr); }
    explicit operator bool() const noexcept { return obj_ != nullptr; }
    void reset() noexcept { Ref old(std::move(*this)); }

private:
    explicit Ref(PyObject* obj) noexcept : obj_(obj) {}
    PyObject* obj_ = nullptr;
};

// A new reference to None, for bodies that return nothing.
inline Ref none() { return Ref::borrow(Py_None); }

}  // namespace brx
