#!/usr/bin/env bash
# Regression check of the in-memory paths: instruction counts under callgrind against their bounds.
# Needs no database server. Installs valgrind and peewee when missing; fails past a bound.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../setup.sh"
setup_everything
command -v valgrind >/dev/null 2>&1 || apt_install valgrind
"$VENV/bin/python" -c "import peewee" 2>/dev/null || \
    "$VENV/bin/python" -m pip install -q --disable-pip-version-check peewee
cd "$ROOT"
exec "$VENV/bin/python" bench/check.py
