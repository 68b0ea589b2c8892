"""A private MariaDB server for the test session, or an existing one named by the environment.

The private server lives in a temporary folder of its own, listens on its Unix socket only
(--skip-networking) and reads no option file (--no-defaults): the machine's own server never matters.

Environment variables that point the tests at an existing server instead:
  BRX_TEST_SOCKET, or BRX_TEST_HOST (+ BRX_TEST_PORT, default 3306); BRX_TEST_USER (default root);
  BRX_TEST_PASSWORD (default empty); BRX_TEST_DATABASE (default brx_test; a second database with
  the suffix "_2" is used too). Both databases are dropped and created anew before each test.
BRX_TEST_SERVER_OPTIONS adds options to the private server's command line (split as a shell would),
e.g. "--auto-increment-increment=3 --auto-increment-offset=2" for identifiers stepped as on a cluster.
"""
import getpass
import os
import shlex
import shutil
import signal
import subprocess
import tempfile
import time

import mysql.connector

# Short lock waits: a test that leaves a transaction open must fail, not hang the teardown.
LOCK_WAIT_TIMEOUT = 10
START_TIMEOUT = 120
STOP_TIMEOUT = 60
# Set by the sanitized test run for the interpreter only; the server binaries are not built for it.
SANITIZER_VARIABLES = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC")


def _which(names, extra_dirs=("/usr/sbin", "/usr/local/sbin", "/usr/bin")):
    for name in names:
        found = shutil.which(name) or next(
            (os.path.join(d, name) for d in extra_dirs if os.access(os.path.join(d, name), os.X_OK)), None)
        if found:
            return found
    raise RuntimeError("no MariaDB server found (%s); install mariadb-server" % ", ".join(names))


def server_environment():
    """The environment for the server's own processes: this one without the sanitizer runtime."""
    return {k: v for k, v in os.environ.items() if k not in SANITIZER_VARIABLES}


def install(datadir, user_options):
    """System tables in a new data directory."""
    command = [_which(("mariadb-install-db", "mysql_install_db")), "--no-defaults", "--datadir=%s" % datadir,
               "--auth-root-authentication-method=normal", "--skip-test-db", *user_options]
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            env=server_environment())
    if result.returncode != 0:
        raise RuntimeError("mariadb-install-db failed:\n" + result.stdout[-4000:])


def server_command(folder, *options):
    """mariadbd on the data of `folder`/data, its socket, pid file and log in `folder`."""
    return [_which(("mariadbd", "mysqld")), "--no-defaults", "--datadir=%s/data" % folder,
            "--socket=%s/mysqld.sock" % folder, "--pid-file=%s/mysqld.pid" % folder,
            "--log-error=%s/error.log" % folder, "--tmpdir=%s" % folder, "--skip-name-resolve",
            "--character-set-server=utf8mb4", "--collation-server=utf8mb4_general_ci",
            "--lock-wait-timeout=%d" % LOCK_WAIT_TIMEOUT, "--innodb-lock-wait-timeout=%d" % LOCK_WAIT_TIMEOUT,
            "--innodb-buffer-pool-size=64M", "--innodb-log-file-size=16M",
            "--innodb-flush-log-at-trx-commit=2", "--max-connections=300", *options]


def log_tail(path, size=4000):
    """The end of a log (all of it when `size` is None)."""
    try:
        with open(path, errors="replace") as f:
            return f.read()[-size:] if size else f.read()
    except OSError:
        return "(no log)"


def query(cnx, sql, params=None):
    """Runs one statement on `cnx`; returns its rows (empty when it returns none)."""
    cursor = cnx.cursor()
    try:
        cursor.execute(sql, params)
        return cursor.fetchall() if cursor.with_rows else []
    finally:
        cursor.close()


def database_names():
    first = os.environ.get("BRX_TEST_DATABASE", "brx_test")
    return first, first + "_2"


class Server:
    """An existing server: connection settings and cleaning; `restart()` skips the test."""

    private = False

    def __init__(self, settings):
        self._settings, self._admin = settings, None

    def settings(self):
        """Connection settings without a database (keyword arguments for mysql.connector.connect)."""
        return dict(self._settings)

    def _query(self, sql, params=None):
        """Runs one statement on the harness's autocommit connection, made anew after a restart."""
        if self._admin is None or not self._admin.is_connected():
            self._admin = mysql.connector.connect(**self.settings(), use_pure=True, autocommit=True)
            for variable in ("lock_wait_timeout", "innodb_lock_wait_timeout"):
                self._admin.cursor().execute("SET SESSION %s = %d" % (variable, LOCK_WAIT_TIMEOUT))
        return query(self._admin, sql, params)

    def _leftovers(self):
        """Every client connection to the test databases but the harness's own."""
        return self._query("SELECT id FROM information_schema.processlist"
                           " WHERE id <> CONNECTION_ID() AND db IN (%s, %s)", database_names())

    def clean(self):
        """Drops and recreates the test databases, after ending every connection that could lock them
        (a connection left in a transaction would hold metadata locks)."""
        for attempt in range(3):
            for (thread_id,) in self._leftovers():
                try:
                    self._query("KILL CONNECTION %d" % int(thread_id))
                except mysql.connector.Error:
                    pass  # ended on its own meanwhile
            try:
                for name in database_names():
                    self._query("DROP DATABASE IF EXISTS `%s`" % name)
                    self._query("CREATE DATABASE `%s` CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci" % name)
                return
            except mysql.connector.Error:
                if attempt == 2:
                    raise
                time.sleep(0.2)

    def restart(self):
        import pytest
        pytest.skip("restarting needs the private test server (BRX_TEST_* points at an existing one)")

    def close(self):
        if self._admin is not None:
            try:
                self._admin.close()
            except Exception:
                pass
            self._admin = None


class PrivateServer(Server):
    """mariadbd in a temporary folder of its own, started once per test session."""

    private = True

    def __init__(self):
        # Unix socket paths are limited to about 107 bytes: keep the folder short.
        base = tempfile.gettempdir() if len(tempfile.gettempdir()) < 40 else "/tmp"
        self.folder = tempfile.mkdtemp(prefix="brx-mariadb-", dir=base)
        super().__init__({"unix_socket": os.path.join(self.folder, "mysqld.sock"), "user": "root", "password": ""})
        self.process = None
        self._user_options = ["--user=%s" % getpass.getuser()] if os.geteuid() == 0 else []

    def _leftovers(self):  # nothing else uses this server: every client connection goes
        return self._query("SELECT id FROM information_schema.processlist WHERE id <> CONNECTION_ID()"
                           " AND user NOT IN ('system user', 'event_scheduler', '')"
                           " AND command NOT IN ('Daemon', 'Binlog Dump')")

    def start(self):
        command = server_command(self.folder, "--skip-networking", "--skip-log-bin", *self._user_options,
                                 *shlex.split(os.environ.get("BRX_TEST_SERVER_OPTIONS", "")))
        self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, env=server_environment())
        deadline = time.monotonic() + START_TIMEOUT
        while True:
            if self.process.poll() is not None:
                raise RuntimeError("mariadbd exited with %s:\n%s" % (self.process.returncode, self.log_tail()))
            try:
                mysql.connector.connect(**self.settings(), use_pure=True).close()
                return
            except mysql.connector.Error:
                pass
            if time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("mariadbd did not answer within %d s:\n%s" % (START_TIMEOUT, self.log_tail()))
            time.sleep(0.05)

    def log_tail(self):
        return log_tail(os.path.join(self.folder, "error.log"))

    def stop(self):
        super().close()
        if self.process is not None and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)  # a clean shutdown
            try:
                self.process.wait(STOP_TIMEOUT)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None

    def clean(self):
        if self.process is None or self.process.poll() is not None:
            self.start()  # a test stopped the server and failed before starting it again
        super().clean()

    def restart(self):
        """Stops the server cleanly and starts it again on the same data; open connections die."""
        self.stop()
        self.start()

    def close(self):
        self.stop()
        shutil.rmtree(self.folder, ignore_errors=True)


def open_server(environ=os.environ):
    if environ.get("BRX_TEST_SOCKET") or environ.get("BRX_TEST_HOST"):
        settings = {"user": environ.get("BRX_TEST_USER", "root"), "password": environ.get("BRX_TEST_PASSWORD", "")}
        if environ.get("BRX_TEST_SOCKET"):
            settings["unix_socket"] = environ["BRX_TEST_SOCKET"]
        else:
            settings.update(host=environ.get("BRX_TEST_HOST", "127.0.0.1"), port=int(environ.get("BRX_TEST_PORT", "3306")))
        return Server(settings)
    server = PrivateServer()
    try:
        install(os.path.join(server.folder, "data"), server._user_options)
        server.start()
    except BaseException:
        server.close()
        raise
    return server
