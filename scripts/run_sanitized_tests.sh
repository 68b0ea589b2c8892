#!/usr/bin/env bash
# Builds brx_sql with AddressSanitizer and UndefinedBehaviorSanitizer into a venv of its own
# (.venv-sanitize, so the ordinary build stays as it is) and runs the whole test suite on it.
# The interpreter is not instrumented, so it starts with the sanitizer runtime preloaded; leak
# detection is off, as the interpreter keeps much of what it allocates until exit on purpose.
# Any sanitizer report stops the process and fails the run; reports are also written under
# $BRX_SANITIZE_LOGS (default: a folder in the venv) and counted at the end.
# Extra arguments go to pytest.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export BRX_VENV="${BRX_VENV:-$ROOT/.venv-sanitize}"
export BRX_CMAKE_DEFINES="BRX_SANITIZE=ON ${BRX_CMAKE_DEFINES:-}"
source "$ROOT/scripts/setup.sh"
setup_everything
cd "$ROOT"

LOGS="${BRX_SANITIZE_LOGS:-$VENV/sanitizer-logs}"
rm -rf "$LOGS"
mkdir -p "$LOGS"
ASAN_RUNTIME="$(g++ -print-file-name=libasan.so)"
UBSAN_RUNTIME="$(g++ -print-file-name=libubsan.so)"

echo "== running the tests on the sanitized build"
status=0
# The plain allocator instead of the interpreter's own pools, so that a freed Python object
# is freed memory the sanitizer watches.
env LD_PRELOAD="$ASAN_RUNTIME $UBSAN_RUNTIME" PYTHONMALLOC=malloc \
    ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:halt_on_error=1:detect_stack_use_after_return=0:log_path=$LOGS/asan:log_exe_name=1" \
    UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1:log_path=$LOGS/ubsan" \
    "$VENV/bin/python" -m pytest -p no:cacheprovider "$@" || status=$?

reports=$(find "$LOGS" -type f | wc -l)
echo "== sanitizer reports: $reports"
if [ "$reports" -gt 0 ]; then
    find "$LOGS" -type f -exec cat {} +
    exit 1
fi
exit "$status"
