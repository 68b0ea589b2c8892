// What a failure says about the connection it happened on: whether the
// connection can still be rolled back and lent again.
#pragma once

#include "support/ref.hpp"

namespace brx {

enum class ConnectionState {
    Usable,       // an ordinary failure: the server answered, the reply was read
    Interrupted,  // not an Exception (Ctrl-C, a signal handler's): stopped anywhere, maybe in a packet
    Broken,       // lost, or out of step with the server: nothing more can be read from it safely
};

// The state a connection is in after `failure` (of type `exception_type`)
// ended the work on it. Never fails; errors while looking are cleared.
ConnectionState connection_state_after(PyObject* exception_type, PyObject* failure);

// `failure` says the connection is lost, or that its protocol state is unknown:
// an OSError, a number meaning lost or out of step (a read time-out included),
// the connector's own "MySQL Connection not available" or an interface error
// without a number (a packet that could not be read), also when the connector
// wrapped one of these into another of its errors as the cause.
bool is_broken_connection_error(PyObject* failure);

}  // namespace brx
