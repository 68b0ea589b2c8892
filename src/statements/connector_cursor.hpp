// A cursor of a connector connection without the ping the connector's own
// cursor() sends first. Every statement of the module opens its own cursor, so
// that ping would double the round trips of a guarded block; the pool's check
// when it lends a connection is the one liveness check a block needs.
#pragma once

#include "support/ref.hpp"

namespace brx {

// cnx.cursor(), with the connector's is_connected() answered True for the
// call when `cnx` is of a connection class of the connector (or a subclass
// keeping its cursor()); any other object's cursor() is called as it is.
Ref cursor_without_ping(PyObject* cnx);

}  // namespace brx
