"""Workload 5: in memory. Building a row object from a fetched 8-tuple, item read of a plain column
and of a resolved foreign key, a cache hit and a module function call, against dict(zip()), a dict
subscript and a Python function call, and peewee's and SQLAlchemy's model construction and attribute
read. Timed with timeit (minimum of the repeats) and counted in instructions under callgrind, which
do not move with the machine's load.

Counting one operation: this file run under callgrind with `--callgrind OP --number N`, against the
same setup run with N = 0; the difference of the totals divided by N is one operation with timeit's
loop around it (the loop alone is the operation "loop")."""
import argparse
import datetime
import decimal
import os
import re
import subprocess
import sys
import tempfile
import timeit

NAMES = ["id", "name", "city", "amount", "created", "price", "note", "home_id"]
VALUES = (17, "name 17", "city 17", 51, datetime.datetime(2024, 1, 1, 0, 17), decimal.Decimal("0.17"),
          "note for row 17", 5)

# operation: (statement, setup group). Each group's setup imports only what its statements need,
# so counting the core operations does not pay for importing SQLAlchemy under callgrind.
OPERATIONS = {
    "loop": ("pass", "core"),
    "dict(zip())": ("dict(zip(names, values))", "core"),
    "row build": ("Row(*values)", "core"),
    "dict subscript": ('d["amount"]', "core"),
    "item read": ('row["amount"]', "core"),
    "item read, resolved key": ('row["home_id"]', "core"),
    "int-key subscript": ("rows[key]", "core"),
    "cache hit": ("cache.Select(key, table)", "core"),
    "Python call": ('python_twin(1, "c", "t")', "core"),
    "module call": ('module_call(1, "c", "t")', "core"),
    "peewee build": ("PRow(**fields)", "peewee"),
    "peewee read": ("pmodel.amount", "peewee"),
    "SQLAlchemy build": ("SRow(**fields)", "sqlalchemy"),
    "SQLAlchemy read": ("smodel.amount", "sqlalchemy"),
}
# (operation, baseline, at most this ratio); "peewee read" as a bound means strictly below it.
TARGETS = [("row build", "dict(zip())", 1.0), ("item read", "dict subscript", 3.5),
           ("item read, resolved key", "dict subscript", 3.5), ("item read", "peewee read", 1.0),
           ("cache hit", "int-key subscript", 3.5), ("module call", "Python call", 0.85)]
# What the regression check in CI holds to: the targets, except where a target is not met yet;
# there the bound sits a few percent above the last measured figure, so a slower change fails.
NOT_MET_YET: dict[str, float] = {}
# Where a figure has come down well below its target for good (the row layout of TableBase), the
# bound sits about 10% above the last measurement instead, so a change that gives the gain back fails.
HELD = {("row build", "dict(zip())"): 0.75, ("item read", "dict subscript"): 2.65,
        ("item read, resolved key", "dict subscript"): 2.35}
CHECK_BOUNDS = [(op, base, NOT_MET_YET.get(op, HELD.get((op, base), bound))) for op, base, bound in TARGETS]


def python_twin(foreign_id, foreign_column, foreign_table, _class=None, cnx=None, pool=None):
    return None


def namespace(group):
    import brx_sql

    class Home(brx_sql.TableBase):
        TABLE_NAME = "homes"
        COLUMN_NAMES = ["id", "street"]

    class Row(brx_sql.TableBase):
        TABLE_NAME = "bench_rows"
        COLUMN_NAMES = NAMES
        COLUMN_ATTRIBUTES = {"id": brx_sql.ColumnAttribute("id", 0),
                             "home_id": brx_sql.ColumnAttribute("home_id", None, True, "homes", Home)}

    row = Row(*VALUES[:-1], Home(5, "1 Elm Road"))  # its key already resolved to the home's row object
    cache = brx_sql.Cache(brx_sql.CNXPool(database="never_connected"))
    cache.Insert(row, "bench_rows")
    found = {"Row": Row, "names": NAMES, "values": VALUES, "row": row, "d": dict(zip(NAMES, VALUES)),
             "cache": cache, "rows": cache.CachedTable("bench_rows"), "key": 17, "table": "bench_rows",
             "python_twin": python_twin, "module_call": brx_sql.CNXGuard.SelectForeignAttr,
             "fields": dict(zip(NAMES[1:], VALUES[1:]))}
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    if group == "peewee":
        import peewee

        class PRow(peewee.Model):
            name, city, note = peewee.CharField(), peewee.CharField(), peewee.CharField(null=True)
            amount, home_id = peewee.IntegerField(), peewee.IntegerField()
            created, price = peewee.DateTimeField(), peewee.DecimalField()

        found.update(PRow=PRow, pmodel=PRow(**found["fields"]))
    if group == "sqlalchemy":
        from models import SRow
        found.update(SRow=SRow, smodel=SRow(**found["fields"]))
    return found


def timings(number=300_000, repeat=5, operations=OPERATIONS):
    """Nanoseconds per operation, the minimum over the repeats (the least disturbed by the load)."""
    spaces = {}
    costs = {}
    for op, (statement, group) in operations.items():
        if op == "loop":
            continue
        names = spaces.setdefault(group, namespace(group))
        costs[op] = min(timeit.repeat(statement, globals=names, number=number, repeat=repeat)) / number * 1e9
    return costs


def callgrind_total(path):
    with open(path) as found:
        return int(re.search(r"^(?:summary|totals): (\d+)", found.read(), re.M).group(1))


def instructions(operations=OPERATIONS, number=100_000, progress=None):
    """Instructions per operation under callgrind, timeit's loop included."""
    env = dict(os.environ, PYTHONHASHSEED="0")
    with tempfile.TemporaryDirectory() as folder:
        def count(op, n):
            out = os.path.join(folder, "cg.out")
            subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out, sys.executable,
                            os.path.abspath(__file__), "--callgrind", op, "--number", str(n)],
                           env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            return callgrind_total(out)

        starts = {}
        costs = {}
        for op, (_, group) in operations.items():
            if progress:
                progress("workload 5: callgrind, %s" % op)
            if group not in starts:
                starts[group] = count(next(o for o, (_, g) in operations.items() if g == group), 0)
            costs[op] = (count(op, number) - starts[group]) / number
    return costs


def verdicts(costs, bounds=TARGETS):
    """[(operation, baseline, ratio, bound, met)] for the bounds whose operations were measured."""
    found = []
    for op, base, bound in bounds:
        if op in costs and base in costs:
            ratio = costs[op] / costs[base]
            met = ratio < bound if base == "peewee read" else ratio <= bound
            found.append((op, base, ratio, bound, met))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--callgrind", choices=sorted(OPERATIONS), help="run one operation --number times")
    parser.add_argument("--number", type=int, default=0)
    options = parser.parse_args()
    if options.callgrind:
        statement, group = OPERATIONS[options.callgrind]
        # The same setup whatever N, so that the run with N = 0 subtracts all of it.
        timeit.Timer(statement, globals=namespace(group)).timeit(options.number)
        return 0
    for op, ns in timings().items():
        print("%-26s %7.1f ns" % (op, ns))
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
