#!/usr/bin/env bash
# A private three-node MariaDB Galera cluster on loopback, by hand (the one the cluster tests use):
#   bash scripts/cluster.sh start     starts it and prints each node's connection settings
#   bash scripts/cluster.sh status    shows each node's state and settings
#   bash scripts/cluster.sh kill N    SIGKILLs node N (1 to 3), as in a crash
#   bash scripts/cluster.sh restart N starts node N again; it rejoins and catches up
#   bash scripts/cluster.sh stop      stops every node by its PID and removes the cluster's folder
# The running cluster is recorded in $BRX_CLUSTER_STATE (default .venv/cluster-state.json).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
ensure_system_packages
# The harness needs the connector only: install once, not on every call.
if ! { [ -x "$VENV/bin/python" ] && "$VENV/bin/python" -c 'import mysql.connector' 2>/dev/null; }; then
    ensure_venv
    install_project
fi
STATE="${BRX_CLUSTER_STATE:-$VENV/cluster-state.json}"
PYTHONPATH="$ROOT/tests${PYTHONPATH:+:$PYTHONPATH}" exec "$VENV/bin/python" "$ROOT/tests/support/galera.py" --state "$STATE" "$@"
