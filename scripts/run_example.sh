#!/usr/bin/env bash
# Installs everything on a fresh machine (if not done yet), makes sure the machine's MariaDB server
# answers (user root with an empty password) and runs the example application, which works in the
# database brx_example (BRX_DB_NAME names another) and creates it when it does not exist yet.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
setup_everything

SOCKET="${BRX_DB_SOCKET:-/run/mysqld/mysqld.sock}"

server_answers() {
    mariadb-admin --no-defaults --socket="$SOCKET" --user=root --password= ping >/dev/null 2>&1
}

ensure_local_server() {
    server_answers && return 0
    echo "== starting the local MariaDB server"
    local mariadbd
    mariadbd="$(find_mariadbd)"
    as_root mkdir -p "$(dirname "$SOCKET")"
    as_root chown mysql:mysql "$(dirname "$SOCKET")"
    if [ ! -d /var/lib/mysql/mysql ]; then
        as_root mariadb-install-db --user=mysql --datadir=/var/lib/mysql >/dev/null
    fi
    as_root start-stop-daemon --start --oknodo --background --exec "$mariadbd" -- \
        --user=mysql --socket="$SOCKET"
    for _ in $(seq 1 120); do
        server_answers && return 0
        sleep 0.5
    done
    echo "the local MariaDB server did not answer on $SOCKET" >&2
    return 1
}

# A fresh Debian install lets the system root in through its Unix account only; the example logs
# in as root with an empty password, as the connector does not speak that socket-only method.
ensure_root_login() {
    "$VENV/bin/python" - "$SOCKET" 2>/dev/null <<'PY' && return 0
import sys, mysql.connector
mysql.connector.connect(unix_socket=sys.argv[1], user="root", password="").close()
PY
    echo "== letting root log in with an empty password"
    as_root mariadb --no-defaults --socket="$SOCKET" --user=root -e \
        "ALTER USER root@localhost IDENTIFIED VIA mysql_native_password USING PASSWORD('') OR unix_socket"
}

ensure_local_server
ensure_root_login
cd "$ROOT"
echo "== running the example application"
BRX_DB_SOCKET="$SOCKET" exec "$VENV/bin/python" examples/app.py "$@"
