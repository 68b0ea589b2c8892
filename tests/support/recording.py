"""A pool-like stand-in that passes every call to a real pool and records what was called.

`rec.log` gets ("get",), ("put",), ("cursor",), ("execute", statement, params_or_None),
("commit",), ("rollback",) in call order, each before the call is passed on (a failing call is
recorded too). A real connection keeps one wrapper, so identity checks across Get calls hold.
"""


class Passing:
    """Passes every attribute read to `real`; an attribute set on the wrapper replaces the real one."""

    def __init__(self, real, log=None):
        self.real, self._log = real, log

    def __getattr__(self, name):
        return getattr(self.real, name)


class RecordingCursor(Passing):
    def execute(self, statement, *params, **kwargs):
        self._log.append(("execute", statement, params[0] if params else None))
        return self.real.execute(statement, *params, **kwargs)

    def __iter__(self):
        return iter(self.real)


class RecordingConnection(Passing):
    def cursor(self, *args, **kwargs):
        self._log.append(("cursor",))
        return RecordingCursor(self.real.cursor(*args, **kwargs), self._log)

    def commit(self):
        self._log.append(("commit",))
        return self.real.commit()

    def rollback(self):
        self._log.append(("rollback",))
        return self.real.rollback()


class RecordingPool:
    def __init__(self, pool):
        self.pool, self.log, self._wrappers = pool, [], {}

    def Get(self):
        self.log.append(("get",))
        connection = self.pool.Get()
        entry = self._wrappers.get(id(connection))
        if entry is None or entry.real is not connection:
            entry = self._wrappers[id(connection)] = RecordingConnection(connection, self.log)
        return entry

    def Put(self, connection):
        self.log.append(("put",))
        return self.pool.Put(connection.real if isinstance(connection, RecordingConnection) else connection)

    def calls(self, *kinds):
        """The log entries of the given kinds ("commit", "execute", ...), or all when none given."""
        return [entry for entry in self.log if not kinds or entry[0] in kinds]
