#!/usr/bin/env bash
# Installs what is missing (as run_tests.sh does, plus peewee, SQLAlchemy 2, matplotlib and valgrind),
# then runs every benchmark against a private MariaDB server of its own. Prints one table and writes
# bench/results/latest.md and bench/results/latest.png. Extra arguments go to bench/run.py: --quick;
# --latency (single-row operations through a delaying relay, bench/results/latency.md); --page-cost
# (one page of related rows in detail: instructions, CPU split, bytes per row, bench/results/page_cost.md).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
setup_everything
command -v valgrind >/dev/null 2>&1 || apt_install valgrind
echo "== installing the benchmark extras"
"$VENV/bin/python" -m pip install -q --disable-pip-version-check peewee "SQLAlchemy>=2" matplotlib
cd "$ROOT"
echo "== running the benchmarks (about 15 minutes)"
exec "$VENV/bin/python" bench/run.py "$@"
