// Temporary: bodies not written yet raise NotImplementedError.
#include "cache/bodies.hpp"

namespace brx {
namespace {
Ref not_written() {
    PyErr_SetString(PyExc_NotImplementedError, "not written yet");
    return {};
}
}  // namespace

Ref cache_init(const Args&) { return not_written(); }
Ref cache_get_pool(const Args&) { return not_written(); }
Ref cache_set_pool(const Args&) { return not_written(); }
Ref cache_select(const Args&) { return not_written(); }
Ref cache_delete(const Args&) { return not_written(); }
Ref cache_insert(const Args&) { return not_written(); }
Ref cache_cached_table(const Args&) { return not_written(); }
Ref cache_clear_table(const Args&) { return not_written(); }
Ref cache_cache(const Args&) { return not_written(); }
Ref cache_refresh(const Args&) { return not_written(); }
Ref cache_tables(const Args&) { return not_written(); }
Ref cache_update(const Args&) { return not_written(); }
}  // namespace brx
