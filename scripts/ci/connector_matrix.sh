#!/usr/bin/env bash
# Runs the test suite (without the cluster tests) once per connector release, each in a venv of
# its own (.venv-connector-*): the pinned release, the oldest one pyproject.toml allows, and pip's
# newest. The extension is built once, as a wheel from the ordinary build folder, and installed
# into each venv. Where a release's C extension cannot load (26.x on Debian 12), the suite skips
# its C-extension mode and runs the pure-Python one. Extra arguments go to pytest.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../setup.sh"
setup_everything
cd "$ROOT"

# The oldest release is read from the package's own requirement, so the two cannot drift apart.
OLDEST="$(sed -n 's/.*"mysql-connector-python>=\([0-9.]*\)".*/\1/p' pyproject.toml)"
[ -n "$OLDEST" ] || { echo "no lower bound of mysql-connector-python in pyproject.toml" >&2; exit 1; }
RELEASES=("$CONNECTOR_PIN" "mysql-connector-python==$OLDEST" "mysql-connector-python>=26")
WHEELS="$VENV/connector-matrix-wheel"
rm -rf "$WHEELS"
"$VENV/bin/python" -m pip wheel -q --disable-pip-version-check --no-deps \
    --config-settings=build-dir="$VENV/brx-build" -w "$WHEELS" "$ROOT"
WHEEL="$(ls "$WHEELS"/brx_sql-*.whl)"

status=0
for release in "${RELEASES[@]}"; do
    name="$(echo "${release#mysql-connector-python}" | tr -c 'A-Za-z0-9.\n' '-')"
    venv="$ROOT/.venv-connector$name"
    [ -x "$venv/bin/python" ] || python3 -m venv "$venv"
    "$venv/bin/python" -m pip install -q --disable-pip-version-check --upgrade --force-reinstall --no-deps "$WHEEL"
    "$venv/bin/python" -m pip install -q --disable-pip-version-check --upgrade "$WHEEL[test]" "$release"
    echo "== $release: $("$venv/bin/python" -c 'import mysql.connector as c; print(c.__version__, "C extension" if c.HAVE_CEXT else "pure Python only")')"
    "$venv/bin/python" -m pytest -q -p no:cacheprovider -m "not cluster" "$@" || status=$?
done
exit "$status"
