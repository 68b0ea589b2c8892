# Sourced by run_example.sh and run_tests.sh: brings a fresh Debian machine to a built, installed
# brx_sql in .venv. Every step is skipped when already done, so running it again is cheap.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# BRX_VENV selects another venv (the sanitized build has its own); BRX_CMAKE_DEFINES holds
# extra CMake definitions for the build, separated by spaces (for example "BRX_SANITIZE=ON").
VENV="${BRX_VENV:-$ROOT/.venv}"
# The connector release the tests are pinned to (its C extension loads on Debian 12); BRX_CONNECTOR_PIN
# installs another one, as scripts/ci/connector_matrix.sh does.
CONNECTOR_PIN="${BRX_CONNECTOR_PIN:-mysql-connector-python==9.7.0}"

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

APT_UPDATED=0
apt_install() {
    if [ "$APT_UPDATED" -eq 0 ]; then
        as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
        APT_UPDATED=1
    fi
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"
}

find_mariadbd() {
    command -v mariadbd 2>/dev/null || { [ -x /usr/sbin/mariadbd ] && echo /usr/sbin/mariadbd; } || true
}

ensure_system_packages() {
    local missing=()
    [ -n "$(find_mariadbd)" ] || missing+=(mariadb-server mariadb-client)
    # The cluster tests run three Galera nodes, which copy state to each other with rsync.
    [ -e /usr/lib/galera/libgalera_smm.so ] || missing+=(galera-4)
    command -v rsync >/dev/null 2>&1 || missing+=(rsync)
    command -v g++ >/dev/null 2>&1 || missing+=(g++)
    if ! python3 -c 'import sysconfig, os, sys; sys.exit(not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))'; then
        missing+=(python3-dev)
    fi
    python3 -c 'import venv, ensurepip' >/dev/null 2>&1 || missing+=(python3-venv)
    if [ "${#missing[@]}" -gt 0 ]; then
        echo "== installing system packages: ${missing[*]}"
        apt_install "${missing[@]}"
    fi
}

ensure_venv() {
    if [ ! -x "$VENV/bin/python" ]; then
        echo "== creating $VENV"
        python3 -m venv "$VENV"
    fi
}

# A digest of everything the build and install read: the sources, the stubs, the Python module,
# the build files, the connector pin and the extra CMake definitions.
build_inputs_digest() {
    {
        (cd "$ROOT" && find src stubs python -type f -not -path "*/__pycache__/*" -print0 |
            LC_ALL=C sort -z | xargs -0 sha256sum && sha256sum CMakeLists.txt pyproject.toml)
        printf 'pin %s\ndefines %s\n' "$CONNECTOR_PIN" "${BRX_CMAKE_DEFINES:-}"
    } | sha256sum | cut -d " " -f 1
}

# Builds the extension with CMake (through scikit-build-core) and installs it with its dependencies.
# The build folder is kept inside the venv so that a second run only recompiles what changed; when
# nothing the build reads has changed since the last successful install into this venv (its digest
# is kept there) and the modules still import, the build and the install are skipped altogether.
install_project() {
    local stamp="$VENV/brx-install.digest" digest
    digest="$(build_inputs_digest)"
    if [ "$(cat "$stamp" 2>/dev/null)" = "$digest" ] &&
        "$VENV/bin/python" -c "import brx_sql, brx_sql_declare" >/dev/null 2>&1; then
        echo "== brx_sql is up to date in $VENV"
        return 0
    fi
    rm -f "$stamp"
    echo "== building and installing brx_sql"
    local defines=() define
    for define in ${BRX_CMAKE_DEFINES:-}; do
        defines+=("--config-settings=cmake.define.${define%%=*}=${define#*=}")
    done
    "$VENV/bin/python" -m pip install -q --disable-pip-version-check \
        --config-settings=build-dir="$VENV/brx-build" "${defines[@]}" "$ROOT[test]" "$CONNECTOR_PIN"
    # Written whole or not at all: a run cut short leaves no digest, and the next run installs again.
    printf '%s\n' "$digest" >"$stamp.$$" && mv "$stamp.$$" "$stamp"
}

setup_everything() {
    ensure_system_packages
    ensure_venv
    install_project
}
