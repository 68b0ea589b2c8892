#!/usr/bin/env bash
# Type check: the stub of brx_sql against the built module (stubtest), then the example
# application and the brx-sql-declare module under mypy --strict, then the code examples of
# README.md and docs/*.md.
# Installs mypy into the venv when missing (at the pinned version); fails on any error.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../setup.sh"
setup_everything
# Pinned, so that a new mypy release with new checks does not fail CI on unchanged code.
MYPY_PIN="2.4.1"
"$VENV/bin/python" -m mypy --version 2>/dev/null | grep -q "^mypy $MYPY_PIN " || \
    "$VENV/bin/python" -m pip install -q --disable-pip-version-check "mypy==$MYPY_PIN"
cd "$ROOT"
status=0

echo "== stubtest: brx_sql-stubs against the installed module"
# No allowlist: every name, signature and default of the stub matches the module.
"$VENV/bin/python" -m mypy.stubtest brx_sql || status=1

echo "== mypy: misuse the stub must catch (scripts/ci/must_fail/)"
# A connection given by position in the place of a flag: mypy must report it.
if misuse="$("$VENV/bin/python" -m mypy --strict --no-incremental scripts/ci/must_fail/connection_as_flag.py)"; then
    echo "mypy accepted scripts/ci/must_fail/connection_as_flag.py"; status=1
elif ! grep -q 'Argument 1 to "Update" of "TableBase" has incompatible type "_Connection"' <<<"$misuse"; then
    echo "$misuse"; status=1
fi

echo "== mypy --strict examples/"
"$VENV/bin/python" -m mypy --strict examples/*.py || status=1

echo "== mypy --strict python/ (brx-sql-declare)"
"$VENV/bin/python" -m mypy --strict python/brx_sql_declare.py || status=1

# The examples of one Markdown file run in order in one namespace (tests/test_docs.py), so each
# file becomes one module at the same path (README.md -> README.py), padded so that its line
# numbers are the file's. They are checked for their use of brx_sql and the connector, bodies of
# unannotated functions included, without asking prose examples for annotations of their own.
echo "== mypy: the code examples of README.md and docs/"
blocks="$(mktemp -d)"
trap 'rm -rf "$blocks"' EXIT
"$VENV/bin/python" - "$blocks" README.md docs/*.md <<'PY'
import pathlib
import sys

sys.path.insert(0, "tests")
from support.doc_blocks import python_blocks

out_dir = pathlib.Path(sys.argv[1])
for name in sys.argv[2:]:
    lines = []
    for line, code in python_blocks(pathlib.Path(name).read_text(encoding="utf-8")):
        lines += [""] * (line - 1 - len(lines)) + code.splitlines()
    if lines:
        module = out_dir / pathlib.Path(name).with_suffix(".py")
        module.parent.mkdir(parents=True, exist_ok=True)
        module.write_text("\n".join(lines) + "\n", encoding="utf-8")
PY
# Errors name the Markdown file, not the module it was copied into.
(cd "$blocks" && find . -name "*.py" -printf "%P\n" | sort | xargs "$VENV/bin/python" -m mypy \
    --config-file "$ROOT/pyproject.toml" --check-untyped-defs --no-incremental) |
    sed -E 's/^([^:]+)\.py:/\1.md:/' || status=1
exit "$status"
