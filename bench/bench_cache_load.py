"""Bulk load of a 100,000-row table through Cache.Cache, next to the connector alone, and a cache hit.

For each connector mode (C extension, pure Python) it reports, best of REPEATS runs:
  connector tuples   SELECT * and iterate the cursor: the floor, the rows as the connector yields them
  python dict build  the same plus {row[0]: Row(*row) for row in cursor} written in Python
  Cache.Cache        the module's bulk load into a new cache (same row class, same pool kind)
with the cost per row and the ratio to the connector floor, as wall time and as this process's CPU
time (the client's own cost; the machine's other load disturbs it less). Then it times a
Cache.Select hit against the same hit path written in Python and a bare dict subscript.

Runs against the private server of the test harness (or the one BRX_TEST_* names, see
tests/support/mariadb.py). Build first, then: PYTHONPATH=<build dir> python3 bench/bench_cache_load.py
"""
import os
import sys
import time
import timeit

import mysql.connector

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from support.mariadb import database_names, open_server  # noqa: E402

import brx_sql  # noqa: E402

ROWS = 100_000
REPEATS = 5
HITS = 1_000_000
TABLE = "bench_rows"
COLUMNS = ["id", "name", "city", "amount", "price", "flag", "note", "home_id"]


class Row(brx_sql.TableBase):
    TABLE_NAME = TABLE
    COLUMN_NAMES = COLUMNS


def fill_table(settings):
    cnx = mysql.connector.connect(**settings, autocommit=True)
    cursor = cnx.cursor()
    cursor.execute("CREATE TABLE %s (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40), city VARCHAR(40),"
                   " amount INT, price DOUBLE, flag TINYINT, note VARCHAR(80), home_id INT)" % TABLE)
    batch = 5_000
    for start in range(1, ROWS + 1, batch):
        values = [("name %d" % i, "city %d" % (i % 97), i * 3, i / 7, i % 2, "note for row %d" % i, i % 1000)
                  for i in range(start, min(start + batch, ROWS + 1))]
        cursor.execute("INSERT INTO %s (name, city, amount, price, flag, note, home_id) VALUES %s"
                       % (TABLE, ", ".join(["(%s, %s, %s, %s, %s, %s, %s)"] * len(values))),
                       [v for row in values for v in row])
    cnx.close()


def interleaved_best(works):
    """Best wall and client-CPU time of each work, run in turn REPEATS times so that a busy moment
    of the machine does not land on one work only. CPU time is this process's: the client's own cost."""
    best = {name: [float("inf"), float("inf")] for name, _ in works}
    for _ in range(REPEATS):
        for name, work in works:
            wall, cpu = time.perf_counter(), time.process_time()
            work()
            wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
            best[name] = [min(best[name][0], wall), min(best[name][1], cpu)]
    return [(name, *best[name]) for name, _ in works]


def measure_mode(settings, use_pure):
    settings = dict(settings, use_pure=use_pure)
    cnx = mysql.connector.connect(**settings)
    pool = brx_sql.CNXPool(**settings)

    def connector_tuples():
        cursor = cnx.cursor()
        cursor.execute("SELECT * FROM `%s`" % TABLE)
        count = sum(1 for _ in cursor)
        assert count == ROWS
        cnx.commit()

    def python_dict_build():
        cursor = cnx.cursor()
        cursor.execute("SELECT * FROM `%s`" % TABLE)
        rows = {row[0]: Row(*row) for row in cursor}
        assert len(rows) == ROWS
        cnx.commit()

    def cache_load():
        rows = brx_sql.Cache(pool).Cache(TABLE, Row)
        assert len(rows) == ROWS

    results = interleaved_best([("connector tuples", connector_tuples), ("python dict build", python_dict_build),
                                ("Cache.Cache", cache_load)])
    cnx.close()
    return results


class PythonCache:
    """The hit path of Cache.Select written in Python, for comparison."""

    def __init__(self, rows):
        self.obj_dict = {TABLE: rows}

    def Select(self, id, table, _class=None, cnx=None, pool=None):
        cache = self.obj_dict.setdefault(table, {})
        if id in cache:
            return cache[id]
        raise NotImplementedError


def measure_hit(settings):
    cache = brx_sql.Cache(brx_sql.CNXPool(**settings))
    rows = cache.Cache(TABLE, Row)
    names = {"cache": cache, "python": PythonCache(rows), "rows": rows, "key": ROWS // 2, "table": TABLE}
    assert cache.Select(names["key"], TABLE) is rows[names["key"]]
    return [(label, min(timeit.repeat(stmt, number=HITS, repeat=REPEATS, globals=names)) / HITS)
            for label, stmt in (("Cache.Select hit", "cache.Select(key, table)"),
                                ("same in Python", "python.Select(key, table)"),
                                ("dict subscript", "rows[key]"))]


def main():
    server = open_server()
    try:
        server.clean()
        settings = dict(server.settings(), database=database_names()[0])
        fill_table(settings)
        print("bulk load of %d rows x %d columns, best of %d (wall; client CPU)" % (ROWS, len(COLUMNS), REPEATS))
        for mode, use_pure in (("cext", False), ("pure", True)):
            results = measure_mode(settings, use_pure)
            _, floor_wall, floor_cpu = results[0]
            for name, wall, cpu in results:
                print("  %-5s %-18s %7.1f ms %6.2f us/row %5.2fx;  %7.1f ms %6.2f us/row %5.2fx"
                      % (mode, name, wall * 1e3, wall / ROWS * 1e6, wall / floor_wall,
                         cpu * 1e3, cpu / ROWS * 1e6, cpu / floor_cpu))
        for label, seconds in measure_hit(settings):
            print("%-17s %6.1f ns" % (label, seconds * 1e9))
    finally:
        server.clean()
        server.close()


if __name__ == "__main__":
    main()
