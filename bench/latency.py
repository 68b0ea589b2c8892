"""Workload 2 (single-row operations) straight to the server and through a relay on loopback that
holds every chunk 250 us each way (about 0.75 ms a round trip with the relay's own work), every
system both ways in the same run. Round trips are counted by the server.

The systems take turns in small slices (SLICE operations of one kind each), in an order that
rotates at every slice, so that a busy moment of the machine falls on all of them alike, and each
has had a whole untimed round (the one that counts round trips) before the clock starts. A figure
is the median rate of its slices, with their 25th and 75th percentiles; beside it are the machine's
load and the round trip of a plain `SELECT 1`, straight and through the relay, both sampled between
the slices of that operation.

Works over the server's Unix socket or TCP (BRX_TEST_HOST and BRX_TEST_PORT name a server).

    python bench/run.py --latency [--quick]   (writes bench/results/latency.md)"""
import datetime
import os
import platform
import random
import statistics
import subprocess
import sys
import time

import mysql.connector

import common
import load
import ops
from models import proxy, row_values

HERE = os.path.dirname(os.path.abspath(__file__))
DELAY = 0.00025
SLICE = 25          # operations of one kind a system runs before the next system's turn
PROBES = 3          # SELECT 1 round trips timed each way between two slices
COUNT, REPEATS = 300, 3
SETTINGS = ("loopback", "relay")


def relay_target(settings):
    """What the relay connects to: the server's Unix socket, or HOST:PORT."""
    if settings.get("unix_socket"):
        return settings["unix_socket"]
    return "%s:%d" % (settings.get("host", "127.0.0.1"), int(settings.get("port", 3306)))


def relayed(settings):
    """Starts the relay; the settings through it and the relay process."""
    relay = subprocess.Popen([sys.executable, os.path.join(HERE, "relay.py"), relay_target(settings), str(DELAY)],
                             stdout=subprocess.PIPE, text=True)
    port = int(relay.stdout.readline())
    kept = {k: v for k, v in settings.items() if k not in ("unix_socket", "host", "port")}
    return dict(kept, host="127.0.0.1", port=port), relay


def make_ways(bench, through_relay):
    """[((setting, system name), system)] for every system, straight and through the relay."""
    ways = []
    straight = bench.settings
    try:
        for setting, settings in zip(SETTINGS, (straight, through_relay)):
            bench.settings = settings  # each system reads its settings when it is made
            ways += [((setting, name), make()) for name, make in ops.systems(bench)]
    finally:
        bench.settings = straight
    return ways


def activate(system):
    """peewee's models reach their database through one proxy: point it at this system's."""
    if isinstance(system, ops.Peewee):
        proxy.initialize(system.db)


class RoundTrip:
    """Times `SELECT 1` on an autocommit connection of each setting."""

    def __init__(self, settings_by_setting):
        self.cnx = {setting: mysql.connector.connect(**settings, autocommit=True)
                    for setting, settings in settings_by_setting.items()}

    def sample(self):
        found = {}
        for setting, cnx in self.cnx.items():
            cursor = cnx.cursor()
            times = []
            for _ in range(PROBES):
                started = time.perf_counter()
                cursor.execute("SELECT 1")
                cursor.fetchall()
                times.append(time.perf_counter() - started)
            found[setting] = times
        return found

    def close(self):
        for cnx in self.cnx.values():
            cnx.close()


def one_round(ways, ids, values, turn, clock, between=None):
    """Every way runs the five operations on `ids` and `values`, the ways taking turns slice by slice
    in a rotating order starting at `turn`. `clock(key, op, count, work)` runs one slice of `count`
    operations; `between(op)`, if given, runs after each turn of all the ways. Returns the next turn."""
    starts = range(0, len(ids), SLICE)
    stored = {key: [] for key, _ in ways}
    batches = {key: [] for key, _ in ways}

    def phase(op, items, work):
        nonlocal turn
        for start in starts:
            shift = turn % len(ways)
            turn += 1
            for key, system in ways[shift:] + ways[:shift]:
                part = items(key)[start:start + SLICE]
                activate(system)
                clock(key, op, len(part), lambda: work(key, system, part))
            if between:
                between(op)

    phase("select", lambda key: ids, lambda key, system, part: system.select(part))
    phase("insert, own tx", lambda key: values, lambda key, system, part: stored[key].extend(system.insert_each(part)))
    phase("update", stored.get, lambda key, system, part: system.update(part))
    phase("delete", stored.get, lambda key, system, part: system.delete(part))
    phase("insert, one tx", lambda key: values,
          lambda key, system, part: batches[key].extend(system.insert_one_tx(part)))
    for key, system in ways:
        activate(system)
        system.delete(batches[key])
    return turn


def measure(bench, through_relay):
    rng = random.Random(15)
    ways = make_ways(bench, through_relay)
    values = [row_values(i) for i in range(1, COUNT + 1)]
    trips = {}

    def count(key, op, n, work):
        made = bench.counters.count(work)[0]
        trips[key, op] = trips.get((key, op), 0) + made / COUNT

    common.progress("latency: counting round trips (and warming every system up)")
    turn = one_round(ways, rng.sample(range(1, load.ROWS + 1), COUNT), values, 0, count)
    rates, loads, round_trips = {}, {}, {}
    probe = RoundTrip({"loopback": bench.settings, "relay": through_relay})

    def clock(key, op, n, work):
        started = time.perf_counter()
        work()
        rates.setdefault((key, op), []).append(n / (time.perf_counter() - started))

    def between(op):
        loads.setdefault(op, []).append(os.getloadavg()[0])
        for setting, times in probe.sample().items():
            round_trips.setdefault((setting, op), []).extend(times)

    try:
        for repeat in range(REPEATS):
            common.progress("latency: round %d of %d" % (repeat + 1, REPEATS))
            turn = one_round(ways, rng.sample(range(1, load.ROWS + 1), COUNT), values, turn, clock, between)
    finally:
        probe.close()
    return {"rates": rates, "trips": trips, "loads": loads, "round trips": round_trips}


def run(quick):
    global COUNT, REPEATS
    if quick:
        COUNT, REPEATS = 100, 1
    started = datetime.datetime.now(datetime.timezone.utc)
    load_before = os.getloadavg()
    bench = common.Bench()
    try:
        common.progress("latency: filling the table")
        load.fill(bench)
        through_relay, relay = relayed(bench.settings)
        try:
            found = measure(bench, through_relay)
        finally:
            relay.kill()
            relay.wait()
    finally:
        bench.close()
    return report(found, started, load_before, os.getloadavg(), quick)


def quartiles(samples):
    if len(samples) < 2:
        return samples[0], samples[0]
    q = statistics.quantiles(samples, n=4, method="inclusive")
    return q[0], q[2]


def rate_cell(samples):
    low, high = quartiles(samples)
    return "%.0f (%.0f-%.0f)" % (statistics.median(samples), low, high)


def trip_cell(samples):
    low, high = quartiles(samples)
    return "%.2f ms (%.2f-%.2f)" % tuple(1e3 * t for t in (statistics.median(samples), low, high))


def rows_of(found):
    rates, trips = found["rates"], found["trips"]
    rows = []
    for op in ops.OPS:
        first = True
        for system, _ in ops.systems(None):
            if (("loopback", system), op) not in rates:
                continue
            cells = [op if first else "", system, "%.2f" % trips[("loopback", system), op]]
            for setting in SETTINGS:
                mine, raw = rates[(setting, system), op], rates[(setting, "raw"), op]
                cells += [rate_cell(mine), "%.2fx" % (statistics.median(mine) / statistics.median(raw))]
            if first:
                cells += ["%.1f-%.1f" % (min(found["loads"][op]), max(found["loads"][op])),
                          trip_cell(found["round trips"]["loopback", op]), trip_cell(found["round trips"]["relay", op])]
            else:
                cells += ["", "", ""]
            rows.append(cells)
            first = False
    return rows


def report(found, started, load_before, load_after, quick):
    header = ("Operation", "System", "Round trips", "ops/s, loopback (p25-p75)", "x raw", "ops/s, relay (p25-p75)",
              "x raw", "Load", "SELECT 1, loopback", "SELECT 1, relay")
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(row) + " |" for row in rows_of(found)]
    text = "\n".join(lines)
    print(text)
    path = os.path.join(HERE, "results", "latency.md")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as out:
        out.write("# Single-row operations on loopback and through a 0.75 ms relay\n\n")
        out.write("Run of %s on %d cores, Python %s, connector %s (C extension). The machine's load average "
                  "(1 minute) was %.1f at the start and %.1f at the end: times move with it, the round trips "
                  "(counted by the server) do not.\n\n"
                  % (started.strftime("%Y-%m-%d %H:%M UTC"), os.cpu_count(), platform.python_version(),
                     mysql.connector.__version__, load_before[0], load_after[0]))
        out.write("%d operations of each kind per system and round, %d round%s%s, in slices of %d taking turns "
                  "in a rotating order; every system had one untimed round first. ops/s: median of the slices' "
                  "rates (25th-75th percentile). \"x raw\": speed as a share of the raw connector's (autocommit, "
                  "one cursor) in the same setting, higher is better; \"insert, one tx\" is one transaction per "
                  "slice. Load: the 1-minute load average between the slices of that operation. SELECT 1: the "
                  "round trip of a plain `SELECT 1`, straight and through the relay, timed %d times each between "
                  "the slices: median (25th-75th percentile).\n\n"
                  % (COUNT, REPEATS, "" if REPEATS == 1 else "s", " (--quick)" if quick else "", SLICE, PROBES))
        out.write(text + "\n")
    print("\nwrote %s" % path)
    return 0
