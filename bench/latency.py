"""Workload 2 (single-row operations) twice: straight to the server, and through a relay on
loopback holding every chunk 250 us each way (about 0.75 ms a round trip with the relay's own
work), every system through it in the same run. Round trips are counted by the server.

    python bench/run.py --latency [--quick]   (writes bench/results/latency.md)"""
import os
import subprocess
import sys

import common
import load
import ops

HERE = os.path.dirname(os.path.abspath(__file__))
DELAY = 0.00025


def relayed(bench):
    """Starts the relay; the settings through it and the relay process."""
    target = bench.settings["unix_socket"]
    relay = subprocess.Popen([sys.executable, os.path.join(HERE, "relay.py"), target, str(DELAY)],
                             stdout=subprocess.PIPE, text=True)
    port = int(relay.stdout.readline())
    settings = {k: v for k, v in bench.settings.items() if k != "unix_socket"}
    return dict(settings, host="127.0.0.1", port=port), relay


def run(quick):
    ops.COUNT, ops.REPEATS = (100, 1) if quick else (300, 3)
    bench = common.Bench()
    try:
        common.progress("latency: filling the table")
        load.fill(bench)
        direct = ops.measure(bench)
        settings, relay = relayed(bench)
        try:
            bench.settings = settings
            over_relay = ops.measure(bench)
        finally:
            relay.kill()
            relay.wait()
    finally:
        bench.close()
    return report(direct, over_relay, quick)


def report(direct, over_relay, quick):
    header = ("Operation", "System", "Round trips", "ops/s, loopback", "x raw", "ops/s, 0.75 ms relay", "x raw")
    rows = []
    for op in ops.OPS:
        for system, _ in ops.systems(None):
            if (system, op) not in direct["times"]:
                continue
            cells = [op, system, "%.2f" % direct["trips"][system, op]]
            for found in (direct, over_relay):
                figure, raw = found["times"][system, op], found["times"]["raw", op]
                cells += ["%.0f" % (1 / figure.median), "%.2fx" % (raw.median / figure.median)]
            rows.append(cells)
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(row) + " |" for row in rows]
    text = "\n".join(lines)
    print(text)
    path = os.path.join(HERE, "results", "latency.md")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as out:
        out.write("# Single-row operations on loopback and through a 0.75 ms relay\n\n")
        out.write("%d operations of each kind, median of %d runs%s; \"x raw\": speed as a share of the raw "
                  "connector's (autocommit, one cursor) in the same setting, higher is better.\n\n"
                  % (ops.COUNT, ops.REPEATS, " (--quick)" if quick else ""))
        out.write(text + "\n")
    print("\nwrote %s" % path)
    return 0
