// CNXPool.MAX_IDLE and CNXPool.PING_AFTER, read from the pool at each use so
// that setting one on a pool serves that pool and on the class every pool; and
// when each idle connection was given back, for PING_AFTER.
#pragma once

#include "support/ref.hpp"

namespace brx {

// The most idle connections the pool keeps: an integer, 0 or more; one too
// large for the machine is taken as the largest.
bool read_max_idle(PyObject* pool, Py_ssize_t& out);
// Seconds after its return within which a connection is lent unchecked: a
// number, 0 or more.
bool read_ping_after(PyObject* pool, double& out);

// Notes that `connection`, just appended to the idle list, came back now. A
// failure to note it only costs the check it would have saved.
void record_return_time(PyObject* pool, PyObject* connection);
// When `connection`, just popped, came back (a float), forgetting the note;
// null without an exception when none was kept.
Ref take_return_time(PyObject* pool, PyObject* connection);
// Forgets when every idle connection came back, so that each is checked when
// it is next lent: one of them, or one lent from them, turned out dead.
void forget_return_times(PyObject* pool);
// Whether `returned_at` lies less than `seconds` in the past.
bool returned_within(PyObject* returned_at, double seconds);

}  // namespace brx
