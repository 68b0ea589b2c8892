// The methods of CNXPool and CNXGuard's with-statement: their signatures and the bodies that run them.
#pragma once

#include "frame/function.hpp"

namespace brx {

namespace sig {
inline constexpr Signature pool_init{
    .owner = "CNXPool", .name = "__init__", .kind = Kind::Method,
    .params = {{{"self"}}},
    .starstar = "dbconfig",
    .surplus_hint = "the connection settings are keyword arguments, as for mysql.connector.connect(), "
                    "e.g. CNXPool(host=\"localhost\", user=..., password=..., database=...)",
};
}  // namespace sig
Ref pool_init(Bound<sig::pool_init> args);

namespace sig {
inline constexpr Signature pool_get{
    .owner = "CNXPool", .name = "Get", .kind = Kind::Method,
    .params = {{{"self"}}},
};
}  // namespace sig
Ref pool_get(Bound<sig::pool_get> args);

namespace sig {
inline constexpr Signature pool_put{
    .owner = "CNXPool", .name = "Put", .kind = Kind::Method,
    .params = {{{"self"}, {"connection"}}},
};
}  // namespace sig
Ref pool_put(Bound<sig::pool_put> args);

namespace sig {
inline constexpr Signature guard_init{
    .owner = "CNXGuard", .name = "__init__", .kind = Kind::Method,
    .params = {{{"self"}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref guard_init(Bound<sig::guard_init> args);

namespace sig {
inline constexpr Signature guard_enter{
    .owner = "CNXGuard", .name = "__enter__", .kind = Kind::Method,
    .params = {{{"self"}}},
};
}  // namespace sig
Ref guard_enter(Bound<sig::guard_enter> args);

namespace sig {
inline constexpr Signature guard_exit{
    .owner = "CNXGuard", .name = "__exit__", .kind = Kind::Method,
    .params = {{{"self"}, {"exception_type"}, {"exception_value"}, {"exception_traceback"}}},
};
}  // namespace sig
Ref guard_exit(Bound<sig::guard_exit> args);

}  // namespace brx
