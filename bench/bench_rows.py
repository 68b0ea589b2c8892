"""Row objects in memory: item read of a plain column and building a row object, against plain Python.

  (a) row["amount"] (4th of 8 columns) and row["note"] (8th) against d["amount"] on a dict of the same
      8 values, and against peewee's attribute read of a model field when peewee is installed (it is
      in the `bench` extra: pip install peewee). Target: at most 4.5x the dict subscript, either column.
  (b) Row(*values) from an 8-tuple against dict(zip(names, values)). Target: at most 1.3x.

The row class is an ordinary one: 8 columns, a foreign-key column and a column with a default.
Times are timeit's, the minimum over the repeats (the least disturbed by the machine's load):

    PYTHONPATH=<build dir> python3 bench/bench_rows.py [--number N] [--repeat R]

Instruction counts do not vary with the machine's load. To count one operation under callgrind, run
it N times and 0 times with the same hash seed:

    PYTHONHASHSEED=0 PYTHONPATH=<build dir> valgrind --tool=callgrind --callgrind-out-file=cg.N \\
        python3 bench/bench_rows.py --callgrind read8 --number 200000
    (the same with --number 0 and cg.0)

The difference of the two totals ("summary:" in each file, or callgrind_annotate's PROGRAM TOTALS)
divided by N is one operation with timeit's loop around it. --instructions runs all of that for every
operation (see OPERATIONS) and prints instructions per operation and the ratios.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import timeit

import brx_sql

try:
    import peewee
except ImportError:
    peewee = None

READ_TARGET = 4.5
BUILD_TARGET = 1.3
NAMES = ["id", "name", "city", "amount", "price", "flag", "home_id", "note"]
VALUES = (17, "name 17", "city 3", 51, 2.43, 1, 5, "note for row 17")


class Home(brx_sql.TableBase):
    TABLE_NAME = "homes"
    COLUMN_NAMES = ["id", "street"]


class Row(brx_sql.TableBase):
    TABLE_NAME = "bench_rows"
    COLUMN_NAMES = NAMES
    COLUMN_ATTRIBUTES = {"home_id": brx_sql.ColumnAttribute("home_id", None, True, "homes", Home),
                         "flag": brx_sql.ColumnAttribute("flag", 0)}


def namespace():
    found = {"Row": Row, "names": NAMES, "values": VALUES, "row": Row(*VALUES), "d": dict(zip(NAMES, VALUES))}
    if peewee is not None:
        class Model(peewee.Model):
            name, city, note = peewee.CharField(), peewee.CharField(), peewee.CharField()
            amount, flag, home_id = peewee.IntegerField(), peewee.IntegerField(), peewee.IntegerField()
            price = peewee.FloatField()

        found["model"] = Model(**dict(zip(NAMES, VALUES)))
    return found


OPERATIONS = {
    "loop": "pass",
    "dict": 'd["amount"]',
    "read4": 'row["amount"]',
    "read8": 'row["note"]',
    "peewee": "model.amount",
    "zip": "dict(zip(names, values))",
    "build": "Row(*values)",
}


def best(statement, names, number, repeat):
    """Seconds per run of `statement`: the minimum over the repeats."""
    return min(timeit.repeat(statement, globals=names, number=number, repeat=repeat)) / number


def report(label, cost, base, target, unit):
    ratio = cost / base
    verdict = "" if target is None else " (target <= %.1f: %s)" % (target, "met" if ratio <= target else "NOT met")
    print("%-28s %8.1f %s  %5.2fx%s" % (label, cost, unit, ratio, verdict))
    return target is None or ratio <= target


def compare(costs, unit):
    """Prints every operation's ratio to its plain-Python twin; True when every target is met."""
    met = [report('dict subscript d["amount"]', costs["dict"], costs["dict"], None, unit)]
    met.append(report('row["amount"] (4th column)', costs["read4"], costs["dict"], READ_TARGET, unit))
    met.append(report('row["note"] (8th column)', costs["read8"], costs["dict"], READ_TARGET, unit))
    if "peewee" in costs:
        report("peewee model.amount", costs["peewee"], costs["dict"], None, unit)
        for op in ("read4", "read8"):
            print("%-28s %5.2fx peewee's attribute read" % ("  " + op, costs[op] / costs["peewee"]))
    report("dict(zip(names, values))", costs["zip"], costs["zip"], None, unit)
    met.append(report("Row(*values), 8-tuple", costs["build"], costs["zip"], BUILD_TARGET, unit))
    return all(met)


def run_timeit(options):
    names = namespace()
    ops = [op for op in OPERATIONS if op != "loop" and (op != "peewee" or "model" in names)]
    costs = {op: best(OPERATIONS[op], names, options.number, options.repeat) * 1e9 for op in ops}
    if "model" not in names:
        print("peewee is not installed: no comparison with its attribute read")
    return compare(costs, "ns")


def callgrind_total(path):
    with open(path) as found:
        text = found.read()
    return int(re.search(r"^(?:summary|totals): (\d+)", text, re.M).group(1))


def run_instructions(options):
    """Every operation under callgrind, N times against 0 times; instructions per run."""
    env = dict(os.environ, PYTHONHASHSEED="0")
    with tempfile.TemporaryDirectory() as folder:
        def count(op, number):
            out = os.path.join(folder, "%s.%d" % (op, number))
            subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out, sys.executable,
                            os.path.abspath(__file__), "--callgrind", op, "--number", str(number)],
                           env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            return callgrind_total(out)

        start = count("loop", 0)
        ops = [op for op in OPERATIONS if op != "peewee" or peewee is not None]
        costs = {op: (count(op, options.number) - start) / options.number for op in ops}
    print("timeit's loop alone: %.0f instructions per run" % costs["loop"])
    return compare(costs, "Ir")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--number", type=int, default=None, help="runs per measurement")
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--callgrind", choices=sorted(OPERATIONS), help="run one operation --number times")
    parser.add_argument("--instructions", action="store_true", help="count every operation under callgrind")
    options = parser.parse_args()
    if options.callgrind:
        names = namespace()  # the same setup for every operation, so that the N=0 run subtracts it
        timeit.Timer(OPERATIONS[options.callgrind], globals=names).timeit(options.number or 0)
        return 0
    if options.instructions:
        options.number = options.number or 200_000
        return 0 if run_instructions(options) else 1
    options.number = options.number or 1_000_000
    return 0 if run_timeit(options) else 1


if __name__ == "__main__":
    raise SystemExit(main())
