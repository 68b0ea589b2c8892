// The module's own function type: one object per declared callable, called
// through vectorcall and bound to instances like a Python function.
#pragma once

#include "frame/signature.hpp"

#include <span>

namespace brx {

struct Function {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    const CallableEntry* entry;
    PyObject* name;       // __name__
    PyObject* qualname;   // __qualname__
    PyObject* defaults;   // tuple of trailing defaults, or None
    PyObject* doc;        // __doc__
    PyObject* traceback_code;  // made on the first failure, then reused
    Py_ssize_t positional;     // declared positional-or-keyword parameters
    Py_ssize_t required;       // of which have no default
};

extern PyTypeObject* FunctionType;

bool ready_function_type();
// A new function object for the table row `callable`, or null with an exception set.
Ref make_function(const CallableEntry& callable);

// The arguments of one call after binding. All pointers are borrowed from the
// caller's stack, except the surplus-keyword dict, which binding creates.
class Args {
public:
    PyObject* operator[](std::size_t i) const { return slots_[i]; }
    // Surplus positional arguments (one-star parameter), borrowed.
    std::span<PyObject* const> rest() const { return rest_; }
    // Surplus keywords (two-star parameter) in the caller's order, or null.
    PyObject* extra_keywords() const { return extra_keywords_.get(); }
    const Function& function() const { return *function_; }

private:
    friend bool bind_arguments(const Function&, PyObject* const*, Py_ssize_t, PyObject*, Args&);
    friend bool bind_positional(const Function&, PyObject* const*, Py_ssize_t, Args&);
    // Only the declared parameters' slots are ever filled or read.
    std::array<PyObject*, kMaxParams> slots_;
    std::span<PyObject* const> rest_;
    Ref extra_keywords_;
    const Function* function_ = nullptr;
};

// The common call: positional arguments only, within the declared counts, no
// star parameters. Returns false (nothing set) when the call is not of that
// shape, so the general binding must run.
inline bool bind_positional(const Function& fn, PyObject* const* args, Py_ssize_t nargs, Args& out) {
    if (nargs < fn.required || nargs > fn.positional || fn.entry->signature.star) return false;
    out.function_ = &fn;
    // A fall-through copy: a loop here becomes a library call to memcpy.
    static_assert(kMaxParams == 7);
    switch (nargs) {
        case 7: out.slots_[6] = args[6]; [[fallthrough]];
        case 6: out.slots_[5] = args[5]; [[fallthrough]];
        case 5: out.slots_[4] = args[4]; [[fallthrough]];
        case 4: out.slots_[3] = args[3]; [[fallthrough]];
        case 3: out.slots_[2] = args[2]; [[fallthrough]];
        case 2: out.slots_[1] = args[1]; [[fallthrough]];
        case 1: out.slots_[0] = args[0]; [[fallthrough]];
        default: break;
    }
    for (Py_ssize_t i = nargs; i < fn.positional; ++i) out.slots_[i] = PyTuple_GET_ITEM(fn.defaults, i - fn.required);
    return true;
}

// A body's view of its bound arguments, read by parameter name:
// `args.get<"table">()`. The name is checked against the signature when the
// body compiles, so reordering a signature's parameters cannot misread one.
template <const Signature& S>
class Bound {
public:
    explicit Bound(const Args& args) noexcept : args_(args) {}

    template <FixedString Name>
    PyObject* get() const {
        constexpr std::size_t index = S.index_of(Name.data);
        static_assert(index < kMaxParams, "the signature declares no parameter of this name");
        return args_[index];
    }
    std::span<PyObject* const> rest() const
        requires(S.star != nullptr)
    {
        return args_.rest();
    }
    PyObject* extra_keywords() const
        requires(S.starstar != nullptr)
    {
        return args_.extra_keywords();
    }
    const Function& function() const { return args_.function(); }

private:
    const Args& args_;
};

template <const Signature& S, Ref (*F)(Bound<S>)>
Ref run_bound(const Args& args) {
    return F(Bound<S>(args));
}

// The table row of the callable declared by `S` and run by `F`.
template <const Signature& S, Ref (*F)(Bound<S>)>
constexpr CallableEntry callable() {
    return CallableEntry{S, &run_bound<S, F>};
}

// Whether `obj` is the module's own function declared by `signature`.
inline bool is_function_of(PyObject* obj, const Signature& signature) {
    return Py_TYPE(obj) == FunctionType && &reinterpret_cast<Function*>(obj)->entry->signature == &signature;
}

// Binds a vectorcall's arguments to the declared parameters; false with the
// binding TypeError set when they do not fit.
bool bind_arguments(const Function& fn, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, Args& out);

// fn(*args) as a call of the function object would make it, for callers
// that reach the body without the function call protocol (a type slot).
PyObject* call_positional(Function& fn, PyObject* const* args, Py_ssize_t nargs);

namespace detail {
bool enter_call(Function& fn) noexcept;
PyObject* leave_call(Function& fn, Ref result) noexcept;
void raise_cpp_exception() noexcept;
}  // namespace detail

// Runs `body()` (returning a Ref) as a call of `fn` runs its body: the depth
// counted, a C++ exception raised as a Python one, and the traceback entry
// when it fails. For a type slot that has done part of the work itself.
template <class Body>
PyObject* run_as_call(Function& fn, Body&& body) {
    if (!detail::enter_call(fn)) return nullptr;
    Ref result;
    try {
        result = body();
    } catch (...) {
        // Unwinding has released what the body held and left its guard
        // blocks through __exit__ with a failure, so the guard rolled back.
        result = Ref();
        detail::raise_cpp_exception();
    }
    return detail::leave_call(fn, std::move(result));
}

// Adds the "brx_sql.<qualname>" traceback entry for an exception leaving `fn`.
// Both run outside the bodies' try blocks, so neither allocates in C++.
void add_traceback_entry(Function& fn) noexcept;
// Adds a traceback entry with the given function name (used by module init).
void add_traceback_entry(const char* funcname) noexcept;

}  // namespace brx
