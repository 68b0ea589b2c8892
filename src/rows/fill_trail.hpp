// The rows whose FillForeign is running in this thread, outermost first. A
// row is known by its table name and its positive identifier, so the same
// database row reached again through a fresh lookup is recognised too.
#pragma once

#include "module/ref.hpp"

#include <string>

namespace brx {

class FillTrail {
public:
    // Enters `row` on the trail unless it is already there (or cannot be
    // identified: no positive integer "id").
    explicit FillTrail(PyObject* row);
    FillTrail(const FillTrail&) = delete;
    FillTrail& operator=(const FillTrail&) = delete;
    ~FillTrail();

    bool already_filling() const { return already_filling_; }

private:
    bool entered_ = false;
    bool already_filling_ = false;
};

}  // namespace brx
