"""Workload 4: threads doing selects by id for a fixed time, and the new connections they opened.

Ways to share connections: a connection per thread (the raw connector, the floor; once as a user
writes it, once making brx_sql's round trips and reads: a ping, a cursor, the select, its first row
read by iteration and then the rest, COMMIT), one CNXPool
shared by all threads (keeping its default 3 idle connections, and keeping as many as there are
threads), one CNXPool per thread, the connector's own MySQLConnectionPool (one slot
per thread) and SQLAlchemy's QueuePool with its default size behind the ORM's Session.get.
Every thread makes one select before the clock starts, so connections that a pool opens on its
first use are not timed, as the connections of the raw ways are opened before it too."""
import random
import threading
import time

from mysql.connector.pooling import MySQLConnectionPool
from sqlalchemy import orm

import brx_sql
from brx_sql import CNXGuard
from common import Figure, progress, REPEATS
from models import ROW_COLUMNS, ROW_TABLE, Row, SRow

THREADS = (1, 4, 16, 32)
SECONDS = 1.0
WAYS = ("connection per thread", "connection per thread, brx_sql's trips", "shared CNXPool",
        "shared CNXPool, MAX_IDLE = threads", "CNXPool per thread", "MySQLConnectionPool", "SQLAlchemy QueuePool")
SELECT = "SELECT * FROM `%s` WHERE id = %%d" % ROW_TABLE


def workers(bench, way, count):
    """One select function per thread, and a function that closes what they opened."""
    if way == "connection per thread":
        cnxs = [bench.connect(autocommit=True) for _ in range(count)]

        def make(cnx):
            cursor = cnx.cursor()

            def select(i):
                cursor.execute(SELECT % i)
                cursor.fetchall()
            return select
        return [make(cnx) for cnx in cnxs], lambda: [cnx.close() for cnx in cnxs]
    if way == "connection per thread, brx_sql's trips":
        cnxs = [bench.connect() for _ in range(count)]

        def make(cnx):
            cursor = cnx.cursor()

            def select(i):
                cnx.is_connected()
                cursor.execute(SELECT % i)
                # Read as brx_sql reads (and as workload 2's same-trips way does): the first row
                # by iteration into an object, then what is left. Each read is one more release
                # and retake of the interpreter lock, which costs much when 16 threads share 2 cores.
                dict(zip(ROW_COLUMNS, next(iter(cursor))))
                cursor.fetchall()
                if cnx.in_transaction:
                    cnx.commit()
            return select
        return [make(cnx) for cnx in cnxs], lambda: [cnx.close() for cnx in cnxs]
    if way.startswith("shared CNXPool") or way == "CNXPool per thread":
        shared = brx_sql.CNXPool(**bench.settings)
        if way.endswith("MAX_IDLE = threads"):
            shared.MAX_IDLE = count
        pools = [shared if way.startswith("shared") else brx_sql.CNXPool(**bench.settings) for _ in range(count)]

        def make(pool):
            return lambda i: CNXGuard.Select(i, ROW_TABLE, Row, pool=pool)

        def close():
            for pool in set(pools):
                for cnx in pool._CNXPool__pool:
                    cnx.close()
        return [make(pool) for pool in pools], close
    if way == "MySQLConnectionPool":
        pool = MySQLConnectionPool(pool_size=count, **bench.settings)

        def select(i):
            cnx = pool.get_connection()
            try:
                cursor = cnx.cursor()
                cursor.execute(SELECT % i)
                cursor.fetchall()
            finally:
                cnx.close()
        return [select] * count, lambda: pool._remove_connections()
    engine = bench.sqlalchemy_engine()

    def select(i):
        with orm.Session(engine) as session:
            session.get(SRow, i)
    return [select] * count, engine.dispose


def run_threads(selects, seconds):
    """Selects per second of all threads together, each running its own select for `seconds`."""
    done = [0] * len(selects)
    start = threading.Barrier(len(selects) + 1)
    stop = [False]

    def loop(k, select):
        rng = random.Random(k)
        # One select before the clock starts: what a thread opens on its first use (a pool's first
        # connection) is not counted against it, as the raw ways connect before the clock too.
        try:
            select(rng.randrange(1, 100_001))
        finally:
            start.wait()  # reached even when the select fails, so no thread is left waiting
        n = 0
        while not stop[0]:
            select(rng.randrange(1, 100_001))
            n += 1
        done[k] = n

    threads = [threading.Thread(target=loop, args=(k, s)) for k, s in enumerate(selects)]
    for thread in threads:
        thread.start()
    start.wait()
    began = time.perf_counter()
    time.sleep(seconds)
    stop[0] = True
    for thread in threads:
        thread.join()
    return sum(done) / (time.perf_counter() - began)


def measure(bench):
    rates = {(way, n): [] for way in WAYS for n in THREADS}
    opened = {(way, n): [] for way in WAYS for n in THREADS}
    for repeat in range(REPEATS):
        progress("workload 4: round %d of %d" % (repeat + 1, REPEATS))
        for n in THREADS:
            for way in WAYS:
                found = []

                def work():
                    selects, close = workers(bench, way, n)
                    try:
                        found.append(run_threads(selects, SECONDS))
                    finally:
                        close()
                opened[way, n].append(bench.counters.count(work)[1])
                rates[way, n].append(found[0])
    return {"rates": {key: Figure(v) for key, v in rates.items()},
            "opened": {key: Figure(v) for key, v in opened.items()}}
