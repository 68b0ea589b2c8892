// The declared signature of a callable: everything the frame needs to build
// its function object, bind its arguments and name its traceback entries.
//
// Each callable is one `Signature` constant (declared beside its body, in the
// subsystem's *_methods.hpp) and one row of the table in callables.cpp. A body
// receives its arguments as `Bound<signature>` and reads them by parameter
// name; a name the signature does not declare does not compile.
#pragma once

#include "support/fixed_string.hpp"
#include "support/ref.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

namespace brx {

class Args;
using Body = Ref (*)(const Args&);

// Default values are the singletons None, True, False and the integer 1.
enum class Default : std::uint8_t { Required, None, True, False, One };

struct Param {
    const char* name = nullptr;
    Default value = Default::Required;
};

inline constexpr std::size_t kMaxParams = 7;
inline constexpr Default kNone = Default::None;

enum class Kind : std::uint8_t { Method, Static, Function };

namespace detail {
constexpr bool same_name(const char* a, const char* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}
}  // namespace detail

struct Signature {
    const char* owner = nullptr;  // class name; nullptr for a module function
    const char* name = nullptr;   // as written in the class body, e.g. "__get_pool"
    Kind kind = Kind::Method;
    std::array<Param, kMaxParams> params{};  // positional-or-keyword, in order
    const char* star = nullptr;      // name of the *parameter collecting surplus positionals
    const char* starstar = nullptr;  // name of the **parameter collecting surplus keywords
    const char* doc = nullptr;
    // Said after the binding error for surplus positional arguments: how to
    // call it instead.
    const char* surplus_hint = nullptr;

    constexpr std::size_t param_count() const {
        std::size_t n = 0;
        while (n < params.size() && params[n].name) ++n;
        return n;
    }
    constexpr std::size_t required_count() const {
        std::size_t n = 0;
        while (n < params.size() && params[n].name && params[n].value == Default::Required) ++n;
        return n;
    }
    // The position of the parameter `name`, or kMaxParams.
    constexpr std::size_t index_of(const char* name) const {
        for (std::size_t i = 0; i < param_count(); ++i)
            if (detail::same_name(params[i].name, name)) return i;
        return kMaxParams;
    }
};

// One row of the callable table: a signature and the body that runs it.
struct CallableEntry {
    const Signature& signature;
    Body body;
};

}  // namespace brx
