"""Workload 1: a whole table of 100,000 rows of 8 columns loaded into objects.

Wall time, this process's CPU time, and memory per loaded row (resident memory of a fresh process
before and after the load, the objects kept alive)."""
import gc
import json
import os
import subprocess
import sys

import sqlalchemy
from sqlalchemy import orm

import brx_sql
from common import interleaved, progress
from models import PRow, ROW_COLUMNS, ROW_DDL, ROW_TABLE, Row, SRow, proxy, row_values

ROWS = 100_000
SYSTEMS = ("raw tuples", "raw dicts", "brx_sql", "peewee", "SQLAlchemy")


def fill(bench):
    bench.run("DROP TABLE IF EXISTS `%s`" % ROW_TABLE)
    bench.run(ROW_DDL % ROW_TABLE)
    cnx = bench.connect()
    cursor = cnx.cursor()
    batch = 5_000
    marks = ", ".join(["(%s, %s, %s, %s, %s, %s, %s, %s)"] * batch)
    for start in range(1, ROWS + 1, batch):
        values = [v for i in range(start, start + batch) for v in (None,) + row_values(i)[1:]]
        cursor.execute("INSERT INTO `%s` VALUES %s" % (ROW_TABLE, marks), values)
    cnx.commit()
    cnx.close()


def loaders(settings, database):
    """{system: a function that loads the whole table and returns what it built}."""
    cnx = brx_sql._connector.connect(**settings)
    pool = brx_sql.CNXPool(**settings)
    engine = sqlalchemy.create_engine(
        "mysql+mysqlconnector:///%s" % database,
        connect_args={k: v for k, v in settings.items() if k != "database"})
    from playhouse.mysql_ext import MySQLConnectorDatabase
    proxy.initialize(MySQLConnectorDatabase(database, **{k: v for k, v in settings.items() if k != "database"}))

    def raw_tuples():
        cursor = cnx.cursor()
        cursor.execute("SELECT * FROM `%s`" % ROW_TABLE)
        rows = cursor.fetchall()
        cnx.commit()
        return rows

    def raw_dicts():
        cursor = cnx.cursor()
        cursor.execute("SELECT * FROM `%s`" % ROW_TABLE)
        names = ROW_COLUMNS
        rows = [dict(zip(names, row)) for row in cursor]
        cnx.commit()
        return rows

    def module():
        return brx_sql.Cache(pool).Cache(ROW_TABLE, Row)

    def peewee_load():
        return list(PRow.select())

    def sqlalchemy_load():
        with orm.Session(engine) as session:
            rows = session.scalars(sqlalchemy.select(SRow)).all()
            session.expunge_all()  # keep the objects, not the session's identity map
            return rows

    return dict(zip(SYSTEMS, (raw_tuples, raw_dicts, module, peewee_load, sqlalchemy_load)))


def resident_bytes():
    with open("/proc/self/statm") as found:
        return int(found.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def memory_child(system, settings, database, rows):
    load = loaders(settings, database)[system]
    load()  # the first load warms every cache of the driver and the library; its objects are dropped
    gc.collect()
    before = resident_bytes()
    kept = load()
    gc.collect()
    after = resident_bytes()
    assert len(kept) == rows
    print(json.dumps((after - before) / rows))


def bytes_per_row(bench, system):
    out = subprocess.run([sys.executable, os.path.abspath(__file__), "--memory", system,
                          json.dumps(bench.settings), bench.database, str(ROWS)], check=True, stdout=subprocess.PIPE, text=True)
    return json.loads(out.stdout)


def measure(bench):
    progress("workload 1: filling %d rows" % ROWS)
    fill(bench)
    load = loaders(bench.settings, bench.database)
    for name, work in load.items():
        assert len(work()) == ROWS, name
    progress("workload 1: timing the loads")
    times = interleaved([(name, work) for name, work in load.items()])
    progress("workload 1: memory per row")
    memory = {name: bytes_per_row(bench, name) for name in SYSTEMS}
    return {"times": times, "memory": memory}


if __name__ == "__main__":
    if sys.argv[1:2] == ["--memory"]:
        memory_child(sys.argv[2], json.loads(sys.argv[3]), sys.argv[4], int(sys.argv[5]))
