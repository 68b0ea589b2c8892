// Answers about classes kept from one call to the next, each only while its
// class's version tag is unchanged: CPython gives a class a new tag whenever
// an attribute of it (or of a base) is assigned, so an answer taken under one
// tag stays right until then. A few slots, each class hashed to one; a class
// whose slot holds another's answer replaces it. A pointer into a slot is
// valid only until the next call that can run Python code, which may refill it.
#pragma once

#include "support/python_internals.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace brx {

template <class Value, std::size_t kSlots = 16>
class ClassVersionCache {
public:
    // What was kept for `type` at its current version, or null.
    Value* find(PyTypeObject* type) {
        Slot& slot = slot_for(type);
        if (slot.type != type || slot.version != internals::version_tag(type) || !internals::has_valid_version(type))
            return nullptr;
        return &slot.value;
    }

    // Keeps `value` for `type` as it was at `version`.
    Value& keep(PyTypeObject* type, unsigned int version, Value value) {
        Slot& slot = slot_for(type);
        slot.value = std::move(value);
        slot.type = type;
        slot.version = version;
        return slot.value;
    }

private:
    struct Slot {
        PyTypeObject* type = nullptr;
        unsigned int version = 0;
        Value value{};
    };

    Slot& slot_for(PyTypeObject* type) { return slots_[(reinterpret_cast<std::uintptr_t>(type) >> 6) % kSlots]; }

    std::array<Slot, kSlots> slots_;
};

}  // namespace brx
