// The rows whose FillForeign is running in this thread, outermost first. A
// row is known as the same object, or by its table name and positive
// identifier, so the same database row reached again through a fresh lookup
// is recognised too, and so is a row built by hand and not stored yet.
#pragma once

#include "support/ref.hpp"

#include <string>

namespace brx {

class FillTrail {
public:
    // Enters `row` on the trail unless it is already there.
    explicit FillTrail(PyObject* row);
    FillTrail(const FillTrail&) = delete;
    FillTrail& operator=(const FillTrail&) = delete;
    ~FillTrail();

    bool already_filling() const { return already_filling_; }

private:
    bool keyed_ = false;
    bool already_filling_ = false;
};

}  // namespace brx
