#!/usr/bin/env bash
# Builds brx_sql without its fast paths over CPython internals (CMake option
# BRX_GENERIC_PATHS) into a venv of its own (.venv-generic) and runs the test
# suite on it, so the fast and the generic paths are shown to agree. The
# cluster tests do not touch those paths and are left to the ordinary run.
# Extra arguments go to pytest.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export BRX_VENV="${BRX_VENV:-$ROOT/.venv-generic}"
export BRX_CMAKE_DEFINES="BRX_GENERIC_PATHS=ON ${BRX_CMAKE_DEFINES:-}"
source "$ROOT/scripts/setup.sh"
setup_everything
cd "$ROOT"
echo "== running the tests on the build without fast paths"
exec "$VENV/bin/python" -m pytest -m "not cluster" "$@"
