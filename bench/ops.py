"""Workload 2: single-row operations, 2,000 of each: selects by id, inserts one transaction each,
inserts all in one transaction, updates and deletes one transaction each.

Systems: the raw connector as a user writes it (autocommit, one cursor), the raw connector making
the same round trips as brx_sql (a ping on borrowing, the statement, COMMIT), brx_sql on an ordinary
pool and on an autocommit pool, each also with PING_AFTER (no ping when the connection came back less
than half a second ago), peewee and SQLAlchemy's ORM."""
import random

import sqlalchemy
from sqlalchemy import orm

import brx_sql
from brx_sql import CNXGuard
from common import Figure, progress, timed, REPEATS
from models import PRow, ROW_COLUMNS, ROW_TABLE, Row, SRow, proxy, row_values

COUNT = 2_000
OPS = ("select", "insert, own tx", "insert, one tx", "update", "delete")
SELECT = "SELECT * FROM `%s` WHERE id = %%d" % ROW_TABLE
INSERT = "INSERT INTO `%s` VALUES (%s)" % (ROW_TABLE, ", ".join(["%s"] * len(ROW_COLUMNS)))
UPDATE = "UPDATE `%s` SET %s WHERE id = %%s" % (ROW_TABLE, ", ".join("`%s` = %%s" % c for c in ROW_COLUMNS))
DELETE = "DELETE FROM `%s` WHERE id = %%s" % ROW_TABLE


class Raw:
    """The connector as a user writes it: autocommit, one cursor reused."""

    def __init__(self, bench):
        self.cnx = bench.connect(autocommit=True)
        self.cursor = self.cnx.cursor()

    def select(self, ids):
        for i in ids:
            self.cursor.execute(SELECT % i)
            self.cursor.fetchall()

    def insert_each(self, values):
        rows = []
        for v in values:
            self.cursor.execute(INSERT, v)
            rows.append([self.cursor.lastrowid, *v[1:]])
        return rows

    def insert_one_tx(self, values):
        self.cnx.start_transaction()
        rows = self.insert_each(values)
        self.cnx.commit()
        return rows

    def update(self, rows):
        for row in rows:
            row[3] += 1
            self.cursor.execute(UPDATE, row + row[:1])

    def delete(self, rows):
        for row in rows:
            self.cursor.execute(DELETE, (row[0],))


class RawSameTrips(Raw):
    """The round trips brx_sql makes, by hand: borrowing pings, and a transaction the server reports
    open is committed."""

    def __init__(self, bench, autocommit=False):
        self.cnx = bench.connect(autocommit=autocommit)
        self.one_cursor = self.cnx.cursor()

    def cursor(self):
        return self.one_cursor

    def end(self):
        if self.cnx.in_transaction:
            self.cnx.commit()

    def select(self, ids):
        for i in ids:
            self.cnx.is_connected()
            cursor = self.cursor()
            cursor.execute(SELECT % i)
            dict(zip(ROW_COLUMNS, next(iter(cursor))))
            cursor.fetchall()
            self.end()

    def insert_each(self, values, borrow=True):
        rows = []
        for v in values:
            if borrow:
                self.cnx.is_connected()
            cursor = self.cursor()
            cursor.execute(INSERT, v)
            rows.append([cursor.lastrowid, *v[1:]])
            if borrow:
                self.end()
        return rows

    def insert_one_tx(self, values):
        self.cnx.is_connected()
        rows = self.insert_each(values, borrow=False)
        self.end()
        return rows

    def update(self, rows):
        for row in rows:
            row[3] += 1
            self.cnx.is_connected()
            self.cursor().execute(UPDATE, row + row[:1])
            self.end()

    def delete(self, rows):
        for row in rows:
            self.cnx.is_connected()
            self.cursor().execute(DELETE, (row[0],))
            self.end()


class Module:
    def __init__(self, bench, ping_after=0, **extra):
        self.pool = brx_sql.CNXPool(**bench.settings, **extra)
        self.pool.PING_AFTER = ping_after

    def select(self, ids):
        for i in ids:
            CNXGuard.Select(i, ROW_TABLE, Row, pool=self.pool)

    def insert_each(self, values):
        rows = [Row(*v) for v in values]
        for row in rows:
            row.Insert(pool=self.pool)
        return rows

    def insert_one_tx(self, values):
        rows = [Row(*v) for v in values]
        with CNXGuard(None, self.pool) as cnx:
            for row in rows:
                row.Insert(cnx)
        return rows

    def update(self, rows):
        for row in rows:
            row["amount"] = row["amount"] + 1
            row.Update(pool=self.pool)

    def delete(self, rows):
        for row in rows:
            row.Delete(pool=self.pool)


def peewee_fields(v):
    return dict(zip(ROW_COLUMNS[1:], v[1:]))


class Peewee:
    def __init__(self, bench):
        self.db = bench.peewee_database()
        proxy.initialize(self.db)

    def select(self, ids):
        for i in ids:
            PRow.get_by_id(i)

    def insert_each(self, values):
        return [PRow.create(**peewee_fields(v)) for v in values]

    def insert_one_tx(self, values):
        with self.db.atomic():
            return self.insert_each(values)

    def update(self, rows):
        for row in rows:
            row.amount += 1
            row.save()

    def delete(self, rows):
        for row in rows:
            row.delete_instance()


class SQLAlchemy:
    def __init__(self, bench):
        self.engine = bench.sqlalchemy_engine()

    def session(self):
        return orm.Session(self.engine, expire_on_commit=False)

    def select(self, ids):
        for i in ids:
            with self.session() as session:
                session.get(SRow, i)

    def insert_each(self, values):
        rows = [SRow(**peewee_fields(v)) for v in values]
        for row in rows:
            with self.session() as session:
                session.add(row)
                session.commit()
        return rows

    def insert_one_tx(self, values):
        rows = [SRow(**peewee_fields(v)) for v in values]
        with self.session() as session:
            session.add_all(rows)
            session.commit()
        return rows

    def update(self, rows):
        for row in rows:
            with self.session() as session:
                session.add(row)
                row.amount += 1
                session.commit()

    def delete(self, rows):
        for row in rows:
            with self.session() as session:
                session.add(row)
                session.delete(row)
                session.commit()


def systems(bench):
    return [("raw", lambda: Raw(bench)), ("raw, brx_sql's trips", lambda: RawSameTrips(bench)),
            ("raw, brx_sql autocommit trips", lambda: RawSameTrips(bench, autocommit=True)),
            ("brx_sql", lambda: Module(bench)), ("brx_sql autocommit", lambda: Module(bench, autocommit=True)),
            ("brx_sql PING_AFTER", lambda: Module(bench, ping_after=0.5)),
            ("brx_sql PING_AFTER autocommit", lambda: Module(bench, ping_after=0.5, autocommit=True)),
            ("peewee", lambda: Peewee(bench)), ("SQLAlchemy", lambda: SQLAlchemy(bench))]


def one_round(system, ids, values, run):
    """Runs the five operations once through `run(op, work)`; `run` returns what the work returned."""
    run("select", lambda: system.select(ids))
    rows = run("insert, own tx", lambda: system.insert_each(values))
    run("update", lambda: system.update(rows))
    run("delete", lambda: system.delete(rows))
    rows = run("insert, one tx", lambda: system.insert_one_tx(values))
    system.delete(rows)


def measure(bench):
    rng = random.Random(15)
    ids = rng.sample(range(1, 100_001), COUNT)
    values = [row_values(i) for i in range(1, COUNT + 1)]
    made = {name: make() for name, make in systems(bench)}
    trips = {}
    progress("workload 2: counting round trips")
    for name, system in made.items():
        def count(op, work):
            result = []
            trips[name, op] = bench.counters.count(lambda: result.append(work()))[0] / COUNT
            return result[0]
        one_round(system, ids, values, count)
    walls = {key: [] for key in trips}
    for repeat in range(REPEATS):
        progress("workload 2: round %d of %d" % (repeat + 1, REPEATS))
        for name, system in made.items():
            def clock(op, work):
                result = []
                walls[name, op].append(timed(lambda: result.append(work()))[0] / COUNT)
                return result[0]
            one_round(system, ids, values, clock)
    return {"times": {key: Figure(samples) for key, samples in walls.items()}, "trips": trips}
