// A cursor of a connector connection without the ping the connector's own
// cursor() sends first. Every statement of the module opens its own cursor, so
// that ping would double the round trips of a guarded block; the pool's check
// when it lends a connection is the one liveness check a block needs.
#pragma once

#include "support/ref.hpp"

namespace brx {

// cnx.cursor() as the connector's own connection classes make it, built
// directly: the class their cursor() would choose, for the connection's own
// cursor settings (default or buffered), called with the connection. Nothing
// is set on the connection. Anything else is asked as it is, cnx.cursor():
// a subclass overriding cursor(), an instance with a cursor of its own, raw
// cursor settings, other connection types.
Ref cursor_without_ping(PyObject* cnx);

// True when `cursor` is of a class the connector's own cursor() makes (its
// default or buffered cursor, in either mode): one whose fetchmany() keeps the
// connector's contract, a list of rows, empty once the result is read.
bool is_connector_cursor(PyObject* cursor);

}  // namespace brx
