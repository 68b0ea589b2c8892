// How big a statement may be. The server refuses a statement longer than its
// max_allowed_packet (error 1153) and drops the connection, so a statement
// made of many rows' values is sized before it is sent.
#pragma once

#include "support/ref.hpp"

#include <cstddef>

namespace brx {

// At least the bytes `value` takes as a statement parameter once the
// connector has written it into the text: a str or bytes value as if every
// byte were escaped, any other value (a number, a date, None) as a short one.
std::size_t parameter_size_bound(PyObject* value);

// The server's max_allowed_packet for the session of `cnx`: asked once, then
// kept on the connection object. 0 when the answer is not a number; -1 with an
// exception set when the statement fails.
long long server_packet_limit(PyObject* cnx);

}  // namespace brx
