"""Regression check of the in-memory paths: instruction counts under callgrind (stable under the
machine's load) of row building, item read, a cache hit and a module call, against their plain-Python
baselines and peewee's attribute read. Exits 1 when a ratio is past its bound.

    python bench/check.py      (needs valgrind, brx_sql and peewee installed)
"""
import sys

import memory


def main():
    wanted = {op for target in memory.TARGETS for op in target[:2]} | {"loop"}
    operations = {op: spec for op, spec in memory.OPERATIONS.items() if op in wanted}
    costs = memory.instructions(operations, progress=lambda text: print(text, file=sys.stderr, flush=True))
    for op in operations:
        print("%-26s %8.0f instructions" % (op, costs[op]))
    failed = 0
    for op, base, ratio, bound, met in memory.verdicts(costs, memory.CHECK_BOUNDS):
        relation = "<" if base == "peewee read" else "<="
        print("%-26s %5.2fx %-18s (bound %s %.2fx) %s" % (op, ratio, base, relation, bound, "ok" if met else "PAST THE BOUND"))
        failed += not met
    return 1 if failed else 0


if __name__ == "__main__":
    raise SystemExit(main())
