"""What every workload shares: the private server, connection settings, timing and round-trip counts."""
import os
import statistics
import sys
import time

import mysql.connector

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from support.mariadb import database_names, open_server  # noqa: E402,F401

REPEATS = 5


def progress(text):
    print("  .. " + text, file=sys.stderr, flush=True)


class Figure:
    """Median and spread (min, max) of repeated measurements."""

    def __init__(self, samples):
        self.samples = list(samples)
        self.median = statistics.median(self.samples)
        self.low, self.high = min(self.samples), max(self.samples)

    def spread(self):
        """Half the range around the median, in percent of it."""
        return 0.0 if not self.median else 50.0 * (self.high - self.low) / self.median

    def ratio(self, other):
        return self.median / other.median


def timed(work):
    """(wall seconds, CPU seconds of this process) of one run of `work`."""
    wall, cpu = time.perf_counter(), time.process_time()
    work()
    return time.perf_counter() - wall, time.process_time() - cpu


def interleaved(works, setup=None, repeats=REPEATS):
    """Runs every (name, work) in turn, `repeats` times, so a busy moment of the machine does not land
    on one system only. Returns {name: (wall Figure, cpu Figure)}. `setup(name)`, if given, runs
    untimed before each work and its result is passed to it."""
    walls = {name: [] for name, _ in works}
    cpus = {name: [] for name, _ in works}
    for _ in range(repeats):
        for name, work in works:
            state = setup(name) if setup else None
            wall, cpu = timed(work if setup is None else (lambda: work(state)))
            walls[name].append(wall)
            cpus[name].append(cpu)
    return {name: (Figure(walls[name]), Figure(cpus[name])) for name, _ in works}


class ServerCounters:
    """Round trips and new connections as the server counts them. A round trip is a statement
    (Questions) or an administrative command such as a ping (Com_admin_commands); the probe's own
    SHOW STATUS adds one of each, which is taken off."""

    NAMES = ("Questions", "Com_admin_commands", "Connections")

    def __init__(self, settings):
        self.cnx = mysql.connector.connect(**settings, autocommit=True)

    def read(self):
        cursor = self.cnx.cursor()
        cursor.execute("SHOW GLOBAL STATUS WHERE Variable_name IN (%s)" % ", ".join("'%s'" % n for n in self.NAMES))
        found = {name: int(value) for name, value in cursor.fetchall()}
        return found["Questions"] + found["Com_admin_commands"], found["Connections"]

    def count(self, work):
        """(round trips, new connections) made while `work()` ran."""
        trips, connections = self.read()
        work()
        trips_after, connections_after = self.read()
        return trips_after - trips - 2, connections_after - connections

    def close(self):
        self.cnx.close()


class Bench:
    """The private server with a clean database, and the settings every system connects with."""

    def __init__(self):
        self.server = open_server()
        self.server.clean()
        self.database = database_names()[0]
        # The C extension of the connector for every system, so all compare on the same driver mode.
        self.settings = dict(self.server.settings(), database=self.database, use_pure=False)
        self.counters = ServerCounters(self.server.settings())

    def connect(self, **extra):
        return mysql.connector.connect(**self.settings, **extra)

    def peewee_database(self):
        from playhouse.mysql_ext import MySQLConnectorDatabase
        params = {k: v for k, v in self.settings.items() if k != "database"}
        return MySQLConnectorDatabase(self.database, **params)

    def sqlalchemy_engine(self, **extra):
        import sqlalchemy
        args = {k: v for k, v in self.settings.items() if k != "database"}
        return sqlalchemy.create_engine("mysql+mysqlconnector:///%s" % self.database, connect_args=args, **extra)

    def run(self, sql):
        cnx = self.connect(autocommit=True)
        try:
            cursor = cnx.cursor()
            for statement in [sql] if isinstance(sql, str) else sql:
                cursor.execute(statement)
        finally:
            cnx.close()

    def close(self):
        self.counters.close()
        self.server.close()
