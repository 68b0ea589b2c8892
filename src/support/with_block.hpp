// A `with` statement in C++: enter a context manager, run work, and leave it
// with the exception triple of the work's failure, exactly as the interpreter
// does (special methods looked up on the type, a truthy __exit__ suppresses,
// an exception from __exit__ gets the block's exception as its context).
#pragma once

#include "support/ref.hpp"

#include <exception>

namespace brx {

class WithBlock {
public:
    WithBlock() noexcept : unwinding_at_start_(std::uncaught_exceptions()) {}
    WithBlock(const WithBlock&) = delete;
    WithBlock& operator=(const WithBlock&) = delete;
    ~WithBlock();

    // Calls manager.__enter__(); false with an exception set on failure (then
    // __exit__ is not called).
    bool enter(PyObject* manager);
    // What __enter__ returned (borrowed).
    PyObject* value() const { return value_.get(); }
    // Leaves the block. `result` null means the work raised (the exception is
    // set). Returns the result, or null with the exception to report. When
    // __exit__ suppresses the exception, the block's value is None.
    Ref exit(Ref result);

private:
    Ref exit_method_;  // bound __exit__
    Ref value_;
    int unwinding_at_start_;
};

// Runs `work(value)` inside `with manager as value:`.
template <class Work>
Ref with_block(PyObject* manager, Work&& work) {
    WithBlock block;
    if (!block.enter(manager)) return {};
    return block.exit(work(block.value()));
}

}  // namespace brx
