// Keeping new objects out of the garbage collector's sight while an
// operation builds many of them.
#pragma once

#include "support/errors.hpp"
#include "support/ref.hpp"

#include <vector>

namespace brx {

// The row objects an operation builds (the cache's bulk load, Query,
// FillForeignMany) are kept out of the collector's sight until it ends. Each
// is a new container, so as the rows pile up the collector would scan them
// again and again, in collections that cannot free any of them (the operation
// holds them all). They are handed back, together, before the operation
// returns, however it ends; until then nothing of theirs can be freed too
// early, since an untracked object only ever keeps what it refers to alive.
class DeferredTracking {
public:
    DeferredTracking() = default;
    DeferredTracking(const DeferredTracking&) = delete;
    DeferredTracking& operator=(const DeferredTracking&) = delete;
    ~DeferredTracking() {
        if (held_.empty()) return;
        StashedError failure;  // dropping the last references may run code
        for (Ref& obj : held_)
            if (!PyObject_GC_IsTracked(obj.get())) PyObject_GC_Track(obj.get());
        held_.clear();
    }
    void defer(PyObject* obj) {
        if (!PyObject_IS_GC(obj) || !PyObject_GC_IsTracked(obj)) return;
        try {
            held_.push_back(Ref::borrow(obj));
        } catch (...) {
            return;  // no room to remember it: it stays tracked
        }
        PyObject_GC_UnTrack(obj);
    }

private:
    std::vector<Ref> held_;
};

}  // namespace brx
