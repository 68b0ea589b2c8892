#!/usr/bin/env bash
# Installs everything on a fresh machine (if not done yet) and runs the whole test suite.
# The tests start a private MariaDB server of their own; extra arguments go to pytest.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
setup_everything
cd "$ROOT"
echo "== running the tests"
exec "$VENV/bin/python" -m pytest "$@"
