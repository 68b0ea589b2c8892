"""What one page of workload 6 (bench/page.py) costs, and where: the raw connector building dicts,
reading the rows with fetchall() or one at a time, against brx_sql's page (`Query` and
`FillForeignMany`, the guide's recipe). Each system shows the same 20 pages of about 520 rows.

1. Client instructions per page under callgrind, garbage collection included, over the 20 pages
   after a warm-up read of the same pages. Callgrind counts this process only, not the server, and
   its counts do not move with the machine's load.
2. The same instructions split: connector (the statements the system sends, sent and read as it
   reads them, the rows left as tuples), row build (the page's rows built from those tuples in
   memory), showing the page (its item reads), garbage collection (the page with the collector
   on, less the page with it off), and wiring (the rest: the guard and the pool, composing the
   statements, joining the levels).
   The 20 pages start after a full collection; full collections, which come every few dozen or
   hundred pages, are added at their steady-state rate (from 3) in an estimate of their own.
3. Steady-state CPU per page: each system in a process of its own, the processes taking turns
   20 pages at a time in a rotating order; the share of the CPU time spent in garbage collection
   (gc.callbacks) and the collections per page by generation. Times move with the machine's
   load, which is printed beside them.
4. Bytes per row of the page's rows kept (tracemalloc, the values included; the same rows as
   tuples for scale) and the objects per row the garbage collector tracks.
5. In memory, under callgrind: building a row object and item read against dict(zip()) and a
   dict subscript (bench/memory.py).

    python bench/page_cost.py [--quick] [--no-callgrind]    (writes bench/results/page_cost.md)
    bash scripts/run_bench.sh --page-cost                    (sets up valgrind and the peers first)

It prints tables to paste into a note, and the ratios against the page's goals."""
import argparse
import datetime
import gc
import glob
import itertools
import json
import logging
import os
import platform
import re
import statistics
import subprocess
import sys
import tempfile
import time
import tracemalloc

import mysql.connector

import common
import memory
import page
from support.recording import RecordingConnection

HERE = os.path.dirname(os.path.abspath(__file__))
PAGES = [k * page.PAGE for k in range(page.PAGES)]
ROUNDS = 40         # steady-state CPU: rounds of the 20 pages per system
GOALS = (("instructions", "raw dicts, fetchall()", 1.15), ("CPU", "raw dicts, rows iterated", 1.3))
# brx_sql's bytes and collector-tracked objects per row of the page (section 4) before its rows were
# made lighter: a lighter row must not keep more.
BEFORE = {"bytes": 442.5, "objects": 3.12}
REGIONS = ("page", "page, collector off", "connector", "row build", "showing", "a full collection")


class RawFetchall(page.Raw):
    """The raw connector reading each result with one fetchall()."""

    @staticmethod
    def rows(cursor):
        return cursor.fetchall()


SYSTEMS = {"raw dicts, fetchall()": RawFetchall, "raw dicts, rows iterated": page.Raw, "brx_sql": page.Module}
NAMES = list(SYSTEMS)
ROW_CLASSES = {"customers": page.Customer, "cities": page.City, "countries": page.Country, "orders": page.Order}
RAW_COLUMNS = {"customers": page.Raw.CUSTOMER, "cities": page.Raw.CITY, "countries": page.Raw.COUNTRY,
               "orders": page.Raw.ORDER}


class Settings:
    """Stands in for common.Bench in a child process: the settings the parent connected with."""

    def __init__(self, settings):
        self.settings = settings

    def connect(self, **extra):
        return mysql.connector.connect(**self.settings, **extra)


# The statements of a page, as the system sends them, and the same statements replayed with
# nothing built: the connector's share of the page.
def captured_statements(name, system):
    """[[(statement, params)] per page]; reads every page once (the warm-up)."""
    found = []
    if name == "brx_sql":
        class Statements(logging.Handler):
            def emit(self, record):
                if record.args and record.args[0] not in ("COMMIT", "ROLLBACK"):
                    found[-1].append((record.args[0], record.args[1] if len(record.args) > 1 else None))

        logger, handler = logging.getLogger("brx_sql"), Statements(logging.DEBUG)
        level = logger.level
        logger.addHandler(handler)
        logger.setLevel(logging.DEBUG)
        try:
            for after in PAGES:
                found.append([])
                system.page(after)
        finally:
            logger.removeHandler(handler)
            logger.setLevel(level)  # off again: the counted pages log nothing
        return found
    real = system.cnx
    for after in PAGES:
        log = []
        system.cnx = RecordingConnection(real, log)
        try:
            system.page(after)
        finally:
            system.cnx = real
        found.append([(entry[1], entry[2]) for entry in log if entry[0] == "execute"])
    return found


def replayer(name, cnx):
    """A function sending one page's statements on `cnx` as the system does, returning the rows."""
    if name != "brx_sql":
        fetch = (lambda cursor: cursor.fetchall()) if name == "raw dicts, fetchall()" else list

        def raw(statements):
            cursor = cnx.cursor()
            found = []
            for statement, params in statements:
                cursor.execute(statement, params)
                found.append(fetch(cursor))
            cnx.commit()
            return found
        return raw

    # brx_sql pings the connection its pool lends, opens each cursor without the connector's
    # ping, reads rows with fetchmany() until an empty batch, and commits when the server reports
    # a transaction.
    ping = type(cnx).is_connected
    cnx.is_connected = True.__bool__

    def module(statements):
        ping(cnx)
        found = []
        for k, (statement, params) in enumerate(statements):
            cursor = cnx.cursor()
            cursor.execute(statement, params)
            rows = []
            for batch in iter(lambda: cursor.fetchmany(1000), []):
                rows += batch
            found.append(rows)
            if k == 0:
                cursor.nextset()  # Query looks for further results
        if cnx.in_transaction:
            cnx.commit()
        return found
    return module


def table_of(statement):
    return re.search(r"\bFROM `?(\w+)", statement).group(1)


def builder(name, statements):
    """A function building one page's rows, unjoined, from its fetched tuples."""
    tables = [table_of(statement) for statement, _ in statements]
    if name == "brx_sql":
        classes = [ROW_CLASSES[t] for t in tables]
        return lambda fetched: [list(itertools.starmap(cls, rows)) for cls, rows in zip(classes, fetched)]
    columns = [RAW_COLUMNS[t] for t in tables]
    return lambda fetched: [[dict(zip(names, row)) for row in rows] for names, rows in zip(columns, fetched)]


def page_rows(customers):
    """Rows of a page held as raw dicts: the customers, their distinct cities and countries, the orders."""
    cities = {id(c["city_id"]): c["city_id"] for c in customers if c["city_id"] is not None}
    countries = {id(city["country_id"]) for city in cities.values()}
    return len(customers) + len(cities) + len(countries) + sum(len(c["orders"]) for c in customers)


# 1 and 2: callgrind. The child marks the ends of each measured region with os.getppid(), before
# which callgrind dumps what it counted since the last dump (--dump-before=getppid).
def mark():
    os.getppid()


def callgrind_child(name, settings):
    bench = Settings(settings)
    system = SYSTEMS[name](bench)
    statements = captured_statements(name, system)
    for after in PAGES:
        system.page(after)
    # The count starts after a full collection, whatever the warm-up left: the 20 pages then see
    # the younger generations' collections; full ones come too seldom to fall in them, and are
    # added from their steady-state rate and the last region's cost.
    gc.collect()
    mark()
    for after in PAGES:
        system.page(after)
    mark()
    gc.collect()
    gc.disable()
    mark()
    for after in PAGES:
        system.page(after)
    mark()
    replay = replayer(name, bench.connect())
    fetched = [replay(s) for s in statements]
    mark()
    for s in statements:
        replay(s)
    mark()
    builds = [builder(name, s) for s in statements]
    for build, rows in zip(builds, fetched):
        build(rows)
    mark()
    # Kept: with the collector off, the page's rows (held in cycles) are not freed either.
    built = [build(rows) for build, rows in zip(builds, fetched)]
    mark()
    graphs = [system.load(after) for after in PAGES]
    for graph in graphs:
        system.show(graph)
    mark()
    for graph in graphs:
        system.show(graph)
    mark()
    del fetched, built, graphs  # back to the heap the pages run with
    gc.collect()
    mark()
    gc.collect()
    mark()
    sys.stdout.flush()
    os._exit(0)  # nothing after the last region is counted


def read_callgrind(path):
    """(total instructions, {object file: self instructions}) of one callgrind dump."""
    objects, selves = {}, {}
    total, obj, in_call = 0, "?", False
    with open(path) as found:
        for line in found:
            if line.startswith(("summary:", "totals:")):
                total = int(line.split()[1])
            elif line.startswith("ob="):
                # "ob=(id) name" names an object file, "ob=(id)" refers to one named before
                match = re.match(r"\((\d+)\)(?: (.*))?", line[3:].strip())
                if match and match.group(2) is not None:
                    objects[match.group(1)] = match.group(2)
                obj = objects.get(match.group(1), "?") if match else line[3:].strip()
            elif line.startswith("cob="):
                match = re.match(r"\((\d+)\) (.*)", line[4:].strip())
                if match:
                    objects[match.group(1)] = match.group(2)
            elif line.startswith("calls="):
                in_call = True  # the next cost line is the call's, not the function's own
            elif line[:1] in "0123456789+-*" and line.strip():
                parts = line.split()
                if not in_call:
                    selves[obj] = selves.get(obj, 0) + (int(parts[1]) if len(parts) > 1 else 0)
                in_call = False
    return total, selves


def callgrind_regions(name, settings):
    """{region: (instructions, self instructions by object file)}."""
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, "cg.out")
        done = subprocess.run(["valgrind", "--tool=callgrind", "--dump-before=getppid", "--callgrind-out-file=" + out,
                               sys.executable, os.path.abspath(__file__), "--child", "callgrind", name,
                               json.dumps(settings)],
                              env=dict(os.environ, PYTHONHASHSEED="0"), stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, text=True)
        if done.returncode:
            raise RuntimeError("the callgrind run of %s failed:\n%s" % (name, done.stderr[-3000:]))
        parts = sorted(glob.glob(out + ".*"), key=lambda p: int(p.rsplit(".", 1)[1]))
        if len(parts) != 2 * len(REGIONS):  # each region's start and end; the tail goes to `out` itself
            raise RuntimeError("callgrind dumped %d parts, not %d: something else called getppid()"
                               % (len(parts), 2 * len(REGIONS)))
        found = {}
        for k, region in enumerate(REGIONS):
            found[region] = read_callgrind(parts[2 * k + 1])
        return found


def split(regions):
    """{share: instructions per page} of one system."""
    full, quiet, connector, build, showing = (regions[r][0] / len(PAGES) for r in REGIONS[:5])
    return {"connector": connector, "row build": build, "wiring": quiet - connector - build - showing,
            "showing the page": showing, "garbage collection": full - quiet, "the page": full}


def object_shares(regions):
    """Self instructions of the page by object file, grouped, as shares of the page."""
    _, selves = regions["page"]
    groups = {}
    for path, cost in selves.items():
        base = os.path.basename(path)
        group = ("brx_sql" if base.startswith("brx_sql") else
                 "the connector's C extension" if base.startswith("_mysql_connector") or "mysqlclient" in base else
                 "the interpreter" if "python" in base else
                 "C library" if base.startswith(("libc.", "libc-", "ld-linux", "libm.")) else "other")
        groups[group] = groups.get(group, 0) + cost
    whole = sum(groups.values()) or 1
    return {group: cost / whole for group, cost in sorted(groups.items(), key=lambda g: -g[1])}


# 3: steady-state CPU. Each system runs in a process of its own, so that its collections pay for
# its own garbage only; the parent has them take turns, 20 pages at a time.
def cpu_child(name, settings):
    system = SYSTEMS[name](Settings(settings))
    shown = [system.page(after) for after in PAGES]  # also the warm-up
    print(json.dumps(hash(repr(shown))), flush=True)
    collecting = [0.0, 0.0]  # CPU seconds in the collector so far; when the running collection began
    collections = [0, 0, 0]  # by generation

    def on_collection(phase, info):
        if phase == "start":
            collecting[1] = time.thread_time()
        else:
            collecting[0] += time.thread_time() - collecting[1]
            collections[info["generation"]] += 1

    gc.callbacks.append(on_collection)
    for _ in sys.stdin:
        before_gc, started = collecting[0], time.process_time()
        for after in PAGES:
            system.page(after)
        print(json.dumps(((time.process_time() - started) / len(PAGES), (collecting[0] - before_gc) / len(PAGES),
                          collections)), flush=True)


def steady_cpu(settings, rounds):
    env = dict(os.environ, PYTHONHASHSEED="0")
    workers = {name: subprocess.Popen([sys.executable, os.path.abspath(__file__), "--child", "cpu", name,
                                       json.dumps(settings)], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                      text=True, env=env) for name in NAMES}
    try:
        shown = {name: worker.stdout.readline() for name, worker in workers.items()}
        assert len(set(shown.values())) == 1, "the systems show other pages: %s" % shown
        cpu = {name: [] for name in NAMES}
        in_gc = {name: [] for name in NAMES}
        collections = {}
        loads = []
        for r in range(rounds):
            loads.append(os.getloadavg()[0])
            for name in NAMES[r % len(NAMES):] + NAMES[:r % len(NAMES)]:
                workers[name].stdin.write("run\n")
                workers[name].stdin.flush()
                seconds, collecting, collections[name] = json.loads(workers[name].stdout.readline())
                cpu[name].append(seconds)
                in_gc[name].append(collecting)
    finally:
        for worker in workers.values():
            worker.stdin.close()
            worker.wait()
    pages = rounds * len(PAGES)
    # The mean, not the median: a full collection falls in one turn of several, and belongs to the page.
    return {name: {"mean": statistics.fmean(cpu[name]), "quartiles": quartiles(cpu[name]),
                   "gc share": sum(in_gc[name]) / sum(cpu[name]),
                   "collections": [count / pages for count in collections[name]]} for name in NAMES}, loads


def quartiles(samples):
    q = statistics.quantiles(samples, n=4)
    return q[0], q[2]


# 4: bytes and collector-tracked objects per row, each system in a fresh process.
def memory_child(name, settings):
    bench = Settings(settings)
    tuples = name == "raw tuples, fetchall()"
    system = SYSTEMS["raw dicts, fetchall()" if tuples else name](bench)
    statements = captured_statements("raw dicts, fetchall()" if tuples else name, system)
    counter = RawFetchall(bench)
    rows = sum(page_rows(counter.load(after)) for after in PAGES)
    replay = replayer("raw dicts, fetchall()", bench.connect())
    load = (lambda k: replay(statements[k])) if tuples else (lambda k: system.load(PAGES[k]))
    for k in range(len(PAGES)):
        load(k)
    gc.collect()
    tracemalloc.start()
    objects, traced = len(gc.get_objects()), tracemalloc.get_traced_memory()[0]
    kept = [load(k) for k in range(len(PAGES))]
    gc.collect()
    traced, objects = tracemalloc.get_traced_memory()[0] - traced, len(gc.get_objects()) - objects - 1
    assert kept
    print(json.dumps({"bytes": traced / rows, "objects": objects / rows, "rows": rows / len(PAGES)}))


def per_row(name, settings):
    out = subprocess.run([sys.executable, os.path.abspath(__file__), "--child", "memory", name, json.dumps(settings)],
                         check=True, stdout=subprocess.PIPE, text=True, env=dict(os.environ, PYTHONHASHSEED="0"))
    return json.loads(out.stdout)


# The report.
def mega(n):
    return "%.1fM" % (n / 1e6)


def ms(seconds):
    return "%.2f ms" % (seconds * 1e3)


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    return "\n".join(lines + ["| " + " | ".join(row) + " |" for row in rows])


def report(costs, cpu, rounds, loads, sizes, in_memory):
    out = []
    header = ["per page"] + NAMES
    rows = []
    if costs:
        totals = {name: split(costs[name])["the page"] for name in NAMES}
        brx = totals["brx_sql"]
        rows.append(["instructions, GC included (callgrind, %d pages)" % len(PAGES),
                     mega(totals[NAMES[0]]), mega(totals[NAMES[1]]),
                     "%s (%.2fx / %.2fx)" % (mega(brx), brx / totals[NAMES[0]], brx / totals[NAMES[1]])])
        # Full collections come too seldom to fall in the 20 counted pages: their steady-state
        # rate times what one costs here.
        amortised = {n: totals[n] + cpu[n]["collections"][2] * costs[n]["a full collection"][0]
                     for n in NAMES}
        rows.append(["the same with full collections at their steady-state rate (estimate)"]
                    + [mega(amortised[n]) for n in NAMES[:2]]
                    + ["%s (%.2fx / %.2fx)" % (mega(amortised["brx_sql"]), amortised["brx_sql"] / amortised[NAMES[0]],
                                               amortised["brx_sql"] / amortised[NAMES[1]])])
    cpu_brx = cpu["brx_sql"]["mean"]
    rows.append(["steady-state CPU (%.0f rows a page; load %.1f-%.1f)" % (sizes["brx_sql"]["rows"], min(loads), max(loads))]
                + ["%s (%s-%s)" % (ms(cpu[n]["mean"]), ms(cpu[n]["quartiles"][0]), ms(cpu[n]["quartiles"][1]))
                   for n in NAMES[:2]]
                + ["%s (%s-%s; %.2fx / %.2fx)" % (ms(cpu_brx), ms(cpu["brx_sql"]["quartiles"][0]),
                                                  ms(cpu["brx_sql"]["quartiles"][1]),
                                                  cpu_brx / cpu[NAMES[0]]["mean"], cpu_brx / cpu[NAMES[1]]["mean"])])
    rows.append(["time in garbage collection"] + ["%.0f%%" % (100 * cpu[n]["gc share"]) for n in NAMES])
    rows.append(["collections per 100 pages, by generation (young / middle / full)"]
                + [" / ".join("%.1f" % (100 * c) for c in cpu[n]["collections"]) for n in NAMES])
    rows.append(["bytes per row (tracemalloc, values included; as tuples: %.0f)" % sizes["raw tuples, fetchall()"]["bytes"]]
                + ["%.0f" % sizes[n]["bytes"] for n in NAMES])
    rows.append(["objects per row the collector tracks (as tuples: %.2f)" % sizes["raw tuples, fetchall()"]["objects"]]
                + ["%.2f" % sizes[n]["objects"] for n in NAMES])
    out.append(table(header, rows))
    out.append("\nCPU: each system's CPU time over %d turns of %d pages, per page, with the 25th-75th percentiles of "
               "the turns; each system in a process of its own, the order of the turns rotating each round. Ratios "
               "are brx_sql's to the two raw columns. Times move with the machine's load (1-minute load "
               "average, %d cores); instructions do not." % (rounds, len(PAGES), os.cpu_count()))
    if costs:
        shares = {name: split(costs[name]) for name in NAMES}

        def cell(name, share):
            value, whole = shares[name][share], shares[name]["the page"]
            return mega(value) if share == "the page" else "%s (%.0f%%)" % (mega(value), 100 * value / whole)

        out.append("\n" + table(["instructions per page"] + NAMES,
                                [[share] + [cell(name, share) for name in NAMES] for share in shares["brx_sql"]]))
        out.append("\nConnector: the page's statements sent and read as the system sends and reads them, the rows "
                   "left as tuples. Row build: the page's rows built from those tuples in memory. Showing: the item "
                   "reads of the page shown. Garbage collection: the page less the page with the collector off, over "
                   "%d pages that start after a full collection. Wiring: the rest (the guard and the pool, composing "
                   "the statements, joining the levels). One full collection costs %s instructions in these processes."
                   % (len(PAGES), " / ".join(mega(costs[name]["a full collection"][0]) for name in NAMES)))
        out.append("\nSelf instructions of brx_sql's page by object file: " + ", ".join(
            "%s %.0f%%" % (group, 100 * share) for group, share in object_shares(costs["brx_sql"]).items()) + ".")
    if in_memory:
        pairs = [("row build", "dict(zip())"), ("item read", "dict subscript")]
        out.append("\n" + table(["in memory (callgrind)", "instructions", "baseline", "ratio"],
                                [[op, "%.0f" % in_memory[op], "%s %.0f" % (base, in_memory[base]),
                                  "%.2fx" % (in_memory[op] / in_memory[base])] for op, base in pairs]))
    out.append("")
    for measure, base, bound in GOALS:
        if measure == "instructions" and not costs:
            continue
        ratio = (split(costs["brx_sql"])["the page"] / split(costs[base])["the page"] if measure == "instructions"
                 else cpu_brx / cpu[base]["mean"])
        out.append("%-4s %5.2fx  %s at most %.2fx %s" % ("met" if ratio <= bound else "MISS", ratio, measure, bound, base))
    for key, unit in (("bytes", "bytes"), ("objects", "tracked objects")):
        now = sizes["brx_sql"][key]
        out.append("%-4s %5.2fx  %s per row no more than before (%g)" % (
            "met" if now <= BEFORE[key] * 1.005 else "MISS", now / BEFORE[key], unit, BEFORE[key]))
    return "\n".join(out)


def run(quick=False, callgrind=True):
    """Measures, prints the report and writes it to bench/results/page_cost.md."""
    started = datetime.datetime.now(datetime.timezone.utc)
    counting = callgrind and not quick
    rounds = ROUNDS // 4 if quick else ROUNDS
    bench = common.Bench()
    try:
        common.progress("page cost: filling the tables")
        page.create(bench)
        common.progress("page cost: steady-state CPU")
        cpu, loads = steady_cpu(bench.settings, rounds)
        common.progress("page cost: bytes per row")
        sizes = {name: per_row(name, bench.settings) for name in NAMES + ["raw tuples, fetchall()"]}
        costs = {}
        for name in NAMES if counting else []:
            common.progress("page cost: callgrind, %s" % name)
            costs[name] = callgrind_regions(name, bench.settings)
    finally:
        bench.close()
    in_memory = None
    if counting:
        wanted = ("dict(zip())", "row build", "dict subscript", "item read")
        in_memory = memory.instructions({op: memory.OPERATIONS[op] for op in wanted}, progress=common.progress)
    text = report(costs, cpu, rounds, loads, sizes, in_memory)
    print(text)
    path = os.path.join(HERE, "results", "page_cost.md")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as out:
        out.write("# What a page of related rows costs\n\nRun of %s on %d cores, Python %s, connector %s (C extension)%s; "
                  "`python bench/page_cost.py` (see its docstring for what each figure counts).\n\n%s\n"
                  % (started.strftime("%Y-%m-%d %H:%M UTC"), os.cpu_count(), platform.python_version(),
                     mysql.connector.__version__, "; --quick" if quick else "", text))
    print("\nwrote %s" % path)
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer CPU rounds; no callgrind")
    parser.add_argument("--no-callgrind", action="store_true", help="leave out the instruction counts")
    parser.add_argument("--child", nargs=3, metavar=("KIND", "SYSTEM", "SETTINGS"), help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.child:
        kind, name, settings = options.child
        child = {"callgrind": callgrind_child, "cpu": cpu_child, "memory": memory_child}[kind]
        return child(name, json.loads(settings))
    return run(options.quick, not options.no_callgrind)


if __name__ == "__main__":
    raise SystemExit(main())
