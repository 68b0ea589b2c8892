// The rows whose FillForeign is running in this thread, outermost first. A
// row is known as the same object, or by its table name and positive
// identifier, so the same database row reached again through a fresh lookup
// is recognised too, and so is a row built by hand and not stored yet.
#pragma once

#include "support/ref.hpp"
#include "support/running_in_thread.hpp"

#include <optional>
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

    struct Key {
        std::string table;
        long long id;
        bool operator==(const Key&) const = default;
    };

private:
    struct ByObject;
    struct ByKey;
    std::optional<RunningInThread<ByKey, Key>> keyed_;
    std::optional<RunningInThread<ByObject, PyObject*>> object_;
    bool already_filling_ = false;
};

}  // namespace brx
