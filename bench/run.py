"""All the workloads, side by side, on the private server of the test harness: prints one table and
writes it, with the targets, to bench/results/latest.md, and a chart to bench/results/latest.png.

    python bench/run.py [--quick]      (scripts/run_bench.sh sets everything up and runs this)

--quick runs everything once with smaller counts, to try the suite out; its figures mean little.
--latency runs only the single-row operations, on loopback and through a relay adding about 0.75 ms
a round trip (bench/latency.py).
--page-cost runs only the page of related rows, in detail: instructions and their split, steady-state
CPU, time in garbage collection, bytes per row (bench/page_cost.py)."""
import argparse
import datetime
import os
import pickle
import platform
import sys

import mysql.connector
import peewee
import sqlalchemy

import common
import graph
import load
import memory
import ops
import page
import seed
import threads

HERE = os.path.dirname(os.path.abspath(__file__))
RESULTS = os.path.join(HERE, "results")
HEADER = ("Workload", "Measure", "System", "Median", "Spread", "x raw", "Round trips")


def fmt_time(seconds):
    if seconds >= 1:
        return "%.2f s" % seconds
    if seconds >= 1e-3:
        return "%.1f ms" % (seconds * 1e3)
    return "%.0f us" % (seconds * 1e6)


def spread(figure):
    return "±%.0f%%" % figure.spread()


def workload1_rows(found):
    times, mem = found["times"], found["memory"]
    raw_wall, raw_cpu = times["raw tuples"]
    dict_cpu = times["raw dicts"][1]
    rows = []
    for system, (wall, cpu) in times.items():
        rows.append(("1 load 100,000 rows", "wall", system, fmt_time(wall.median), spread(wall),
                     "%.2fx" % wall.ratio(raw_wall), "1"))
        rows.append(("", "CPU", system, fmt_time(cpu.median), spread(cpu),
                     "%.2fx (%.2fx raw dicts)" % (cpu.ratio(raw_cpu), cpu.ratio(dict_cpu)), ""))
        rows.append(("", "bytes per row", system, "%.0f" % mem[system], "", "%.2fx" % (mem[system] / mem["raw tuples"]), ""))
    return rows


def per_op_rows(label, found, op_names, systems, same_trips):
    """Rows of workloads 2 and 3: per operation and system, the time, ratio to the raw connector
    as a user writes it and, for brx_sql, to the raw connector making the same round trips."""
    times, trips = found["times"], found["trips"]
    rows = []
    for op in op_names:
        first = True
        for system in systems:
            if (system, op) not in times:
                continue
            figure = times[system, op]
            ratio = "%.2fx" % figure.ratio(times["raw", op])
            twin = same_trips.get(system)
            if twin and (twin, op) in times:
                ratio += " (%.2fx same trips)" % figure.ratio(times[twin, op])
            rows.append((label if first and op == op_names[0] else "", op if first else "", system,
                         fmt_time(figure.median), spread(figure), ratio, "%.2f" % trips[system, op]))
            first = False
    return rows


def workload4_rows(found):
    rates, opened = found["rates"], found["opened"]
    rows = []
    for n in threads.THREADS:
        base = rates["connection per thread", n]
        for k, way in enumerate(threads.WAYS):
            figure = rates[way, n]
            rows.append(("4 threads" if n == threads.THREADS[0] and k == 0 else "",
                         "%d threads" % n if k == 0 else "", way, "%.0f selects/s" % figure.median, spread(figure),
                         "%.2fx" % figure.ratio(base), "%.0f connections opened" % opened[way, n].median))
    return rows


def workload5_rows(times, counts):
    pairs = [("row build", "dict(zip())"), ("item read", "dict subscript"), ("item read, resolved key", "dict subscript"),
             ("cache hit", "int-key subscript"), ("module call", "Python call"),
             ("peewee build", "dict(zip())"), ("peewee read", "dict subscript"),
             ("SQLAlchemy build", "dict(zip())"), ("SQLAlchemy read", "dict subscript")]
    rows = []
    for k, (op, base) in enumerate(pairs):
        system = op.split()[0] if op.split()[0] in ("peewee", "SQLAlchemy") else "brx_sql"
        rows.append(("5 in memory" if k == 0 else "", "%s vs %s" % (op, base), system,
                     "%.0f Ir / %.0f ns" % (counts[op], times[op]), "%.0f Ir / %.0f ns" % (counts[base], times[base]),
                     "%.2fx Ir, %.2fx time" % (counts[op] / counts[base], times[op] / times[base]), ""))
    return rows


def targets(w1, w2, w3, w4, counts):
    found = []
    raw_wall = w1["times"]["raw tuples"][0]
    brx_wall, brx_cpu = w1["times"]["brx_sql"]
    found.append(("1: wall time at most 1.15x the raw connector", brx_wall.ratio(raw_wall), 1.15))
    found.append(("1: CPU time at most 1.1x the raw rows turned into dicts", brx_cpu.ratio(w1["times"]["raw dicts"][1]), 1.1))
    mem = w1["memory"]
    found.append(("1: bytes per row below peewee's", mem["brx_sql"] / mem["peewee"], 1.0))
    found.append(("1: bytes per row below SQLAlchemy's", mem["brx_sql"] / mem["SQLAlchemy"], 1.0))
    for label, result, names, pairs in (
            ("2", w2, ops.OPS, (("brx_sql", "raw, brx_sql's trips"), ("brx_sql autocommit", "raw, brx_sql autocommit trips"))),
            ("3", w3, graph.OPS, (("brx_sql", "raw, brx_sql's trips"),))):
        for op in names:
            for system, twin in pairs:
                if (system, op) in result["times"]:
                    found.append(("%s: %s, %s at most 1.05x the raw connector making the same round trips" % (label, op, system),
                                  result["times"][system, op].ratio(result["times"][twin, op]), 1.05))
    rates = w4["rates"]
    found.append(("4: CNXPool per thread within 1.1x of a connection per thread, 16 threads",
                  rates["connection per thread", 16].median / rates["CNXPool per thread", 16].median, 1.1))
    found.append(("4: one shared CNXPool with MAX_IDLE = threads within 1.1x of a CNXPool per thread, 16 threads",
                  rates["CNXPool per thread", 16].median / rates["shared CNXPool, MAX_IDLE = threads", 16].median, 1.1))
    found.append(("4: the same against a connection per thread making brx_sql's round trips",
                  rates["connection per thread, brx_sql's trips", 16].median / rates["CNXPool per thread", 16].median, 1.1))
    for op, base, ratio, bound, met in memory.verdicts(counts):
        found.append(("5: %s %s %.2fx %s (callgrind)" % (op, "below" if base == "peewee read" else "at most", bound, base),
                      ratio, bound))
    return [(text, ratio, bound, ratio < bound if ("below" in text) else ratio <= bound) for text, ratio, bound in found]


def table_text(rows, markdown):
    if markdown:
        lines = ["| " + " | ".join(HEADER) + " |", "|" + "---|" * len(HEADER)]
        lines += ["| " + " | ".join(row) + " |" for row in rows]
        return "\n".join(lines)
    widths = [max(len(str(row[k])) for row in [HEADER] + rows) for k in range(len(HEADER))]
    line = lambda row: "  ".join(str(cell).ljust(width) for cell, width in zip(row, widths)).rstrip()
    return "\n".join([line(HEADER), line(["-" * w for w in widths])] + [line(row) for row in rows])


def chart(path, w1, w2, w3, w4):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, (left, right) = plt.subplots(1, 2, figsize=(15, 6), gridspec_kw={"width_ratios": [3, 2]})
    systems = ["brx_sql", "brx_sql autocommit", "peewee", "SQLAlchemy"]
    measures = [("load", lambda s: w1["times"][s][0].ratio(w1["times"]["raw tuples"][0]) if s in w1["times"] else None)]
    for result, names in ((w2, ops.OPS), (w3, graph.OPS)):
        for op in names:
            measures.append((op, lambda s, op=op, r=result: r["times"][s, op].ratio(r["times"]["raw", op])
                             if (s, op) in r["times"] else None))
    width = 0.8 / len(systems)
    for k, system in enumerate(systems):
        values = [measure(system) for _, measure in measures]
        xs = [i + k * width for i, v in enumerate(values) if v is not None]
        left.bar(xs, [v for v in values if v is not None], width, label=system)
    left.axhline(1.0, color="black", linewidth=0.8)
    left.set_xticks([i + 0.4 - width / 2 for i in range(len(measures))])
    left.set_xticklabels([name for name, _ in measures], rotation=30, ha="right")
    left.set_yscale("log")
    left.set_ylabel("time, x the raw connector (log scale; lower is better)")
    left.set_title("Workloads 1-3: medians of %d" % common.REPEATS)
    left.legend()
    for way in threads.WAYS:
        right.plot(threads.THREADS, [w4["rates"][way, n].median for n in threads.THREADS], marker="o", label=way)
    right.set_xscale("log", base=2)
    right.set_xticks(threads.THREADS)
    right.set_xticklabels([str(n) for n in threads.THREADS])
    right.set_xlabel("threads")
    right.set_ylabel("selects by id per second")
    right.set_title("Workload 4: threads")
    right.legend(fontsize="small")
    figure.tight_layout()
    figure.savefig(path, dpi=90)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--latency", action="store_true",
                        help="only the single-row operations, on loopback and through a delaying relay")
    parser.add_argument("--page-cost", action="store_true",
                        help="only the page of related rows, in detail: instructions, CPU, bytes per row")
    parser.add_argument("--saved", metavar="FILE", help="write the report from the figures a run saved")
    options = parser.parse_args()
    if options.saved:
        with open(options.saved, "rb") as found:
            saved = pickle.load(found)
        if len(saved) == 7:  # saved before workload 6 existed
            saved = saved + (None,)
        if len(saved) == 8:  # saved before workload 7 existed
            saved = saved + (None,)
        return report(*saved, options.quick)
    if options.latency:
        import latency
        return latency.run(options.quick)
    if options.page_cost:
        import page_cost
        return page_cost.run(options.quick)
    if options.quick:
        common.REPEATS = ops.REPEATS = graph.REPEATS = threads.REPEATS = page.REPEATS = seed.REPEATS = 1
        ops.COUNT, graph.GRAPHS, graph.FILLED, threads.SECONDS = 200, 50, 50, 0.3
    started = datetime.datetime.now(datetime.timezone.utc)
    bench = common.Bench()
    try:
        w1 = load.measure(bench)
        w2 = ops.measure(bench)
        w3 = graph.measure(bench)
        w4 = threads.measure(bench)
        w6 = page.measure(bench)
        w7 = seed.measure(bench)
    finally:
        bench.close()
    common.progress("workload 5: timing")
    times = memory.timings(number=30_000 if options.quick else 200_000, repeat=common.REPEATS)
    counts = memory.instructions(progress=common.progress)
    os.makedirs(RESULTS, exist_ok=True)
    with open(os.path.join(RESULTS, "latest.pickle"), "wb") as out:
        pickle.dump((started, w1, w2, w3, w4, times, counts, w6, w7), out)
    return report(started, w1, w2, w3, w4, times, counts, w6, w7, options.quick)


def report(started, w1, w2, w3, w4, times, counts, w6, w7, quick):
    rows = (workload1_rows(w1) + per_op_rows("2 single rows, 2,000 each", w2, ops.OPS, [n for n, _ in ops.systems(None)],
                                              {"brx_sql": "raw, brx_sql's trips",
                                               "brx_sql autocommit": "raw, brx_sql autocommit trips"})
            + per_op_rows("3 graphs, 500 each", w3, graph.OPS, ["raw", "raw, brx_sql's trips", "brx_sql", "peewee", "SQLAlchemy"],
                          {"brx_sql": "raw, brx_sql's trips"})
            + workload4_rows(w4) + workload5_rows(times, counts) + page.rows(w6, fmt_time, spread)
            + seed.rows(w7, fmt_time, spread))
    verdicts = targets(w1, w2, w3, w4, counts) + [
        (text, ratio, bound, ratio <= bound if "within" in text else ratio < bound) for text, ratio, bound in page.targets(w6) + seed.targets(w7)]
    print(table_text(rows, markdown=False))
    print()
    for text, ratio, bound, met in verdicts:
        print("%-4s %5.2fx  %s" % ("met" if met else "MISS", ratio, text))
    os.makedirs(RESULTS, exist_ok=True)
    chart(os.path.join(RESULTS, "latest.png"), w1, w2, w3, w4)
    machine = "%d cores, Python %s, connector %s (C extension), %s, peewee %s, SQLAlchemy %s" % (
        os.cpu_count(), platform.python_version(), mysql.connector.__version__,
        bench_server_version(), peewee.__version__, sqlalchemy.__version__)
    with open(os.path.join(RESULTS, "latest.md"), "w") as out:
        out.write("# Benchmark run of %s\n\n%s%s.\n\n" % (started.strftime("%Y-%m-%d %H:%M UTC"), machine,
                                                        "; --quick: figures of one short run" if quick else ""))
        out.write("Median of %d runs, spread = half the range around it. \"x raw\": ratio to the raw connector doing "
                  "the same work as a user writes it; \"same trips\": to the raw connector making the same round "
                  "trips as brx_sql. Round trips per operation as the server counts them (statements and pings). "
                  "Workload 5: instructions under callgrind and best-of-%d times, operation vs baseline.\n\n"
                  % (common.REPEATS, common.REPEATS))
        out.write(table_text(rows, markdown=True) + "\n\n![chart](latest.png)\n\n## Targets\n\n")
        out.write("| Target | Ratio | Bound | |\n|---|---|---|---|\n")
        for text, ratio, bound, met in verdicts:
            out.write("| %s | %.2fx | %.2fx | %s |\n" % (text, ratio, bound, "met" if met else "**missed**"))
    print("\nwrote %s and %s" % (os.path.join(RESULTS, "latest.md"), os.path.join(RESULTS, "latest.png")))
    return 0


def bench_server_version():
    import subprocess
    from support.mariadb import _which
    try:
        out = subprocess.run([_which(("mariadbd", "mysqld")), "--version"], stdout=subprocess.PIPE, text=True).stdout
        return out.split(" Ver ")[1].split()[0].split("-")[0].join(("MariaDB ", ""))
    except Exception:
        return "MariaDB"


if __name__ == "__main__":
    raise SystemExit(main())
