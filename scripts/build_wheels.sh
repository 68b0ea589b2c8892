#!/usr/bin/env bash
# Builds the sdist, then from it one wheel per CPython interpreter found on this machine (3.9 or
# newer, with its headers; none is downloaded), into dist/. Each wheel is then installed into a
# fresh venv with the test tools and the pinned connector (or the newest one the interpreter can
# have), and the suite (without the cluster tests) runs from a copy of tests/ outside the
# checkout, so what it imports is the installed wheel.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
ensure_system_packages
ensure_venv
cd "$ROOT"
"$VENV/bin/python" -m pip install -q --disable-pip-version-check build
mkdir -p dist
rm -f dist/brx_sql-*
"$VENV/bin/python" -m build --sdist -o dist . >/dev/null
SDIST="$(ls dist/brx_sql-*.tar.gz)"
echo "== sdist: $SDIST"

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
# The tests with the documents and the example they run, without the sources.
cp -r tests examples README.md docs pyproject.toml "$WORK/"

declare -A seen=()
results=()
status=0
for python in /usr/bin/python3.* /usr/local/bin/python3.* "$HOME"/.pyenv/versions/*/bin/python3.*; do
    [[ "$python" =~ python3\.[0-9]+$ && -x "$python" ]] || continue
    tag="$("$python" -c 'import sys, sysconfig, os
ok = sys.version_info >= (3, 9) and os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h"))
print("cp%d%d" % sys.version_info[:2] if ok else "")')" || continue
    [ -n "$tag" ] && [ -z "${seen[$tag]:-}" ] || continue
    seen[$tag]=1
    echo "== $tag: $python"
    "$python" -m venv "$WORK/venv-$tag"
    py="$WORK/venv-$tag/bin/python"
    "$py" -m pip install -q --disable-pip-version-check --upgrade pip
    "$py" -m pip wheel -q --disable-pip-version-check --no-deps -w dist "$SDIST"
    wheel="$(ls dist/brx_sql-*-"$tag"-*.whl)"
    # The pinned connector where this interpreter can have it (9.7.0 needs 3.10), else the newest
    # release the package allows.
    "$py" -m pip install -q --disable-pip-version-check "$wheel[test]" "$CONNECTOR_PIN" 2>/dev/null ||
        "$py" -m pip install -q --disable-pip-version-check "$wheel[test]"
    connector="$("$py" -c 'import mysql.connector as c; print(c.__version__)')"
    line="$(cd "$WORK" && "$py" -m pytest -q -p no:cacheprovider -m "not cluster" "$@" 2>&1 | tail -1)" || status=1
    results+=("$tag $(basename "$wheel"), connector $connector: $line")
done
echo "== results"
printf '%s\n' "${results[@]}"
exit "$status"
