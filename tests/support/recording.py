"""A pool-like stand-in that passes every call to a real pool and records what was called.

`rec.log` gets ("get",), ("put",), ("cursor",), ("execute", statement, params_or_None),
("commit",), ("rollback",) in call order. Each entry is written before the call is passed on,
so a call that then fails is still recorded.
"""

_NO_PARAMS = object()


class RecordingCursor:
    def __init__(self, cursor, log):
        self._real = cursor
        self._log = log

    def execute(self, statement, params=_NO_PARAMS, *args, **kwargs):
        self._log.append(("execute", statement, None if params is _NO_PARAMS else params))
        if params is _NO_PARAMS:
            return self._real.execute(statement, *args, **kwargs)
        return self._real.execute(statement, params, *args, **kwargs)

    def __iter__(self):
        return iter(self._real)

    def __getattr__(self, name):
        return getattr(self._real, name)


class RecordingConnection:
    def __init__(self, connection, log):
        self._real = connection
        self._log = log

    @property
    def real(self):
        return self._real

    def cursor(self, *args, **kwargs):
        self._log.append(("cursor",))
        return RecordingCursor(self._real.cursor(*args, **kwargs), self._log)

    def commit(self):
        self._log.append(("commit",))
        return self._real.commit()

    def rollback(self):
        self._log.append(("rollback",))
        return self._real.rollback()

    def __getattr__(self, name):
        return getattr(self._real, name)


class RecordingPool:
    """Wraps `pool`; a real connection keeps one wrapper, so identity tests across Get calls hold."""

    def __init__(self, pool):
        self.pool = pool
        self.log = []
        self._wrappers = {}

    def wrap(self, connection):
        """The recording wrapper of a real connection (for the connection-passed-in case)."""
        if isinstance(connection, RecordingConnection):
            return connection
        entry = self._wrappers.get(id(connection))
        if entry is None or entry[0] is not connection:
            entry = (connection, RecordingConnection(connection, self.log))
            self._wrappers[id(connection)] = entry
        return entry[1]

    def Get(self):
        self.log.append(("get",))
        return self.wrap(self.pool.Get())

    def Put(self, connection):
        self.log.append(("put",))
        real = connection.real if isinstance(connection, RecordingConnection) else connection
        return self.pool.Put(real)

    def calls(self, *kinds):
        """The log entries of the given kinds ("commit", "execute", ...), or all when none given."""
        return [entry for entry in self.log if not kinds or entry[0] in kinds]
