// The methods of Cache: their signatures and the bodies that run them.
#pragma once

#include "frame/function.hpp"

namespace brx {

namespace sig {
inline constexpr Signature cache_init{
    .owner = "Cache", .name = "__init__", .kind = Kind::Method,
    .params = {{{"self"}, {"pool", kNone}}},
};
}  // namespace sig
Ref cache_init(Bound<sig::cache_init> args);

namespace sig {
inline constexpr Signature cache_get_pool{
    .owner = "Cache", .name = "__get_pool", .kind = Kind::Method,
    .params = {{{"self"}, {"pool"}}},
};
}  // namespace sig
Ref cache_get_pool(Bound<sig::cache_get_pool> args);

namespace sig {
inline constexpr Signature cache_set_pool{
    .owner = "Cache", .name = "SetPool", .kind = Kind::Method,
    .params = {{{"self"}, {"pool"}}},
};
}  // namespace sig
Ref cache_set_pool(Bound<sig::cache_set_pool> args);

namespace sig {
inline constexpr Signature cache_select{
    .owner = "Cache", .name = "Select", .kind = Kind::Method,
    .params = {{{"self"}, {"id"}, {"table"}, {"_class", kNone}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref cache_select(Bound<sig::cache_select> args);

namespace sig {
inline constexpr Signature cache_delete{
    .owner = "Cache", .name = "Delete", .kind = Kind::Method,
    .params = {{{"self"}, {"obj"}, {"table", kNone}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref cache_delete(Bound<sig::cache_delete> args);

namespace sig {
inline constexpr Signature cache_insert{
    .owner = "Cache", .name = "Insert", .kind = Kind::Method,
    .params = {{{"self"}, {"obj"}, {"table", kNone}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref cache_insert(Bound<sig::cache_insert> args);

namespace sig {
inline constexpr Signature cache_cached_table{
    .owner = "Cache", .name = "CachedTable", .kind = Kind::Method,
    .params = {{{"self"}, {"table"}}},
};
}  // namespace sig
Ref cache_cached_table(Bound<sig::cache_cached_table> args);

namespace sig {
inline constexpr Signature cache_clear_table{
    .owner = "Cache", .name = "ClearTable", .kind = Kind::Method,
    .params = {{{"self"}, {"table"}}},
};
}  // namespace sig
Ref cache_clear_table(Bound<sig::cache_clear_table> args);

namespace sig {
inline constexpr Signature cache_cache{
    .owner = "Cache", .name = "Cache", .kind = Kind::Method,
    .params = {{{"self"}, {"table"}, {"_class", kNone}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref cache_cache(Bound<sig::cache_cache> args);

namespace sig {
inline constexpr Signature cache_refresh{
    .owner = "Cache", .name = "Refresh", .kind = Kind::Method,
    .params = {{{"self"}, {"table"}, {"clear", Default::True}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref cache_refresh(Bound<sig::cache_refresh> args);

namespace sig {
inline constexpr Signature cache_tables{
    .owner = "Cache", .name = "Tables", .kind = Kind::Method,
    .params = {{{"self"}}},
};
}  // namespace sig
Ref cache_tables(Bound<sig::cache_tables> args);

namespace sig {
inline constexpr Signature cache_update{
    .owner = "Cache", .name = "Update", .kind = Kind::Method,
    .params = {{{"self"}, {"table"}, {"cnx", kNone}, {"pool", kNone}}},
};
}  // namespace sig
Ref cache_update(Bound<sig::cache_update> args);

}  // namespace brx
