#!/usr/bin/env bash
# Builds the module without its fast paths over CPython internals into a venv
# of its own and runs the test suite on it (extra arguments go to pytest), so
# the fast and the generic paths are shown to agree.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
ensure_system_packages
ensure_venv
GENERIC_VENV="$ROOT/.venv-generic"
if [ ! -x "$GENERIC_VENV/bin/python" ]; then
    echo "== creating $GENERIC_VENV"
    python3 -m venv "$GENERIC_VENV"
fi
echo "== building brx_sql without fast paths"
"$GENERIC_VENV/bin/python" -m pip install -q --disable-pip-version-check \
    --config-settings=build-dir="$GENERIC_VENV/brx-build" \
    --config-settings=cmake.define.BRX_GENERIC_PATHS=ON "$ROOT[test]" "$CONNECTOR_PIN"
cd "$ROOT"
echo "== running the tests on the generic build"
exec "$GENERIC_VENV/bin/python" -m pytest -m "not cluster" "$@"
