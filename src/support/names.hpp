// Interned names, written at the point of use as "COLUMN_NAMES"_id.
//
// Each distinct literal registers itself while the shared library loads; the
// exec step interns all of them once (`intern_all_names`), so the hot paths
// only read a pointer. Interned strings are never freed: the module lives as
// long as the process.
#pragma once

#include "support/fixed_string.hpp"
#include "support/ref.hpp"

namespace brx {

namespace detail {
// One registered name; the nodes form a list threaded through the names
// themselves, so registering while the library loads allocates nothing.
struct NameNode {
    PyObject** slot;
    const char* text;
    NameNode* next = nullptr;
};
void register_name(NameNode& node) noexcept;

template <FixedString S>
struct InternedName {
    static inline PyObject* object = nullptr;
    static inline NameNode node{&object, S.data};
    static inline const bool registered = (register_name(node), true);
};
}  // namespace detail

// Interns every registered name; returns false with an exception set on failure.
bool intern_all_names();

template <FixedString S>
PyObject* operator""_id() {
    (void)detail::InternedName<S>::registered;
    return detail::InternedName<S>::object;
}

}  // namespace brx
