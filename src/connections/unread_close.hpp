// Closing a connection that may be in the middle of a result. The connector's
// own close() reads the rest first in its C extension (freeing the result
// drains it), which for a large result read over a network takes seconds; a
// connection dropped after an interrupt must go at once.
#pragma once

#include "support/ref.hpp"

namespace brx {

// cnx.close(), after cutting a connection of the connector's own classes off
// from the server without reading what the server is still sending (the C
// extension's session is closed, the pure-Python socket shut down). Any other
// connection object is just closed. False with an exception set on failure.
bool close_unread(PyObject* cnx);

}  // namespace brx
