"""A private MariaDB server for the test session, or an existing one named by the environment.

The private server lives in its own temporary folder (data directory, socket, pid file, log), listens
on its own Unix socket only (--skip-networking, so no port can clash) and reads no option file
(--no-defaults), so the machine's own server and configuration never matter.

Environment variables that point the tests at an existing server instead:
  BRX_TEST_SOCKET, or BRX_TEST_HOST (+ BRX_TEST_PORT, default 3306); BRX_TEST_USER (default root);
  BRX_TEST_PASSWORD (default empty); BRX_TEST_DATABASE (default brx_test; a second database with
  the suffix "_2" is used too). Both databases are dropped and created anew before each test.

BRX_TEST_SERVER_OPTIONS adds options to the private server's command line, split as a shell would,
e.g. "--auto-increment-increment=3 --auto-increment-offset=2" to hand out identifiers the way a
three-node cluster does.
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
SERVER_BINARIES = ("mariadbd", "mysqld")
INSTALL_BINARIES = ("mariadb-install-db", "mysql_install_db")
SYSTEM_USERS = ("system user", "event_scheduler", "")


def _which(names, extra_dirs=("/usr/sbin", "/usr/local/sbin", "/usr/bin")):
    for name in names:
        found = shutil.which(name) or next(
            (os.path.join(d, name) for d in extra_dirs if os.access(os.path.join(d, name), os.X_OK)), None)
        if found:
            return found
    raise RuntimeError("no MariaDB server found (%s); install mariadb-server" % ", ".join(names))


# Set by the sanitized test run for the interpreter only; the server binaries are not built for it.
SANITIZER_VARIABLES = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC")


def server_environment():
    """The environment for the server's own processes: this one without the sanitizer runtime."""
    return {k: v for k, v in os.environ.items() if k not in SANITIZER_VARIABLES}


def database_names():
    first = os.environ.get("BRX_TEST_DATABASE", "brx_test")
    return first, first + "_2"


class ServerBase:
    """What the tests need of a server: connection settings, cleaning, restart."""

    private = False

    def __init__(self):
        self._admin = None

    def settings(self):
        """Connection settings without a database (keyword arguments for mysql.connector.connect)."""
        raise NotImplementedError

    def admin(self):
        """An autocommit connection for the harness itself, reconnected when the server restarted."""
        if self._admin is not None:
            try:
                if self._admin.is_connected():
                    return self._admin
            except Exception:
                pass
            self._close_admin()
        self._admin = mysql.connector.connect(**self.settings(), use_pure=True, autocommit=True)
        self._admin_query("SET SESSION lock_wait_timeout = %d" % LOCK_WAIT_TIMEOUT)
        self._admin_query("SET SESSION innodb_lock_wait_timeout = %d" % LOCK_WAIT_TIMEOUT)
        return self._admin

    def _admin_query(self, sql, params=None):
        cursor = self._admin.cursor()
        try:
            cursor.execute(sql, params)
            return cursor.fetchall() if cursor.with_rows else []
        finally:
            cursor.close()

    def _close_admin(self):
        if self._admin is not None:
            try:
                self._admin.close()
            except Exception:
                pass
            self._admin = None

    def leftover_connections(self):
        names = database_names()
        return self._admin_query(
            "SELECT id FROM information_schema.processlist"
            " WHERE id <> CONNECTION_ID() AND db IN (%s, %s)", names)

    def kill_leftovers(self):
        for (thread_id,) in self.leftover_connections():
            try:
                self._admin_query("KILL CONNECTION %d" % int(thread_id))
            except mysql.connector.Error:
                pass  # ended on its own meanwhile

    def clean(self):
        """Drops and recreates the test databases, after ending every connection that could lock them."""
        self.ensure_running()
        self.admin()
        for attempt in range(3):
            self.kill_leftovers()
            try:
                for name in database_names():
                    self._admin_query("DROP DATABASE IF EXISTS `%s`" % name)
                    self._admin_query(
                        "CREATE DATABASE `%s` CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci" % name)
                return
            except mysql.connector.Error:
                if attempt == 2:
                    raise
                time.sleep(0.2)

    def ensure_running(self):
        pass

    def restart(self):
        import pytest
        pytest.skip("restarting needs the private test server (BRX_TEST_* points at an existing one)")

    def stop(self):
        self._close_admin()

    def close(self):
        self._close_admin()


class ExternalServer(ServerBase):
    def __init__(self, environ):
        super().__init__()
        self._settings = {"user": environ.get("BRX_TEST_USER", "root"),
                          "password": environ.get("BRX_TEST_PASSWORD", "")}
        if environ.get("BRX_TEST_SOCKET"):
            self._settings["unix_socket"] = environ["BRX_TEST_SOCKET"]
        else:
            self._settings["host"] = environ.get("BRX_TEST_HOST", "127.0.0.1")
            self._settings["port"] = int(environ.get("BRX_TEST_PORT", "3306"))

    def settings(self):
        return dict(self._settings)


class PrivateServer(ServerBase):
    """mariadbd in a temporary folder of its own, started once per test session."""

    private = True

    def __init__(self):
        super().__init__()
        self.mariadbd = _which(SERVER_BINARIES)
        self.install_db = _which(INSTALL_BINARIES)
        # Unix socket paths are limited to about 107 bytes: keep the folder short.
        base = tempfile.gettempdir() if len(tempfile.gettempdir()) < 40 else "/tmp"
        self.folder = tempfile.mkdtemp(prefix="brx-mariadb-", dir=base)
        self.datadir = os.path.join(self.folder, "data")
        self.socket = os.path.join(self.folder, "mysqld.sock")
        self.pidfile = os.path.join(self.folder, "mysqld.pid")
        self.log = os.path.join(self.folder, "error.log")
        self.process = None
        self._user_options = ["--user=%s" % getpass.getuser()] if os.geteuid() == 0 else []
        self._extra_options = shlex.split(os.environ.get("BRX_TEST_SERVER_OPTIONS", ""))

    def settings(self):
        return {"unix_socket": self.socket, "user": "root", "password": ""}

    def install(self):
        command = [self.install_db, "--no-defaults", "--datadir=%s" % self.datadir,
                   "--auth-root-authentication-method=normal", "--skip-test-db",
                   *self._user_options]
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                env=server_environment())
        if result.returncode != 0:
            raise RuntimeError("mariadb-install-db failed:\n" + result.stdout[-4000:])

    def start(self):
        if self.process is not None and self.process.poll() is None:
            return
        command = [self.mariadbd, "--no-defaults", "--datadir=%s" % self.datadir,
                   "--socket=%s" % self.socket, "--pid-file=%s" % self.pidfile,
                   "--log-error=%s" % self.log, "--tmpdir=%s" % self.folder,
                   "--skip-networking", "--skip-name-resolve", "--skip-log-bin",
                   "--character-set-server=utf8mb4", "--collation-server=utf8mb4_general_ci",
                   "--lock-wait-timeout=%d" % LOCK_WAIT_TIMEOUT,
                   "--innodb-lock-wait-timeout=%d" % LOCK_WAIT_TIMEOUT,
                   "--innodb-buffer-pool-size=64M", "--innodb-log-file-size=16M",
                   "--innodb-flush-log-at-trx-commit=2", "--max-connections=300",
                   *self._user_options, *self._extra_options]
        self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, env=server_environment())
        self._wait_ready()

    def _wait_ready(self):
        deadline = time.monotonic() + START_TIMEOUT
        while True:
            if self.process.poll() is not None:
                raise RuntimeError("mariadbd exited with %s:\n%s" % (self.process.returncode, self.log_tail()))
            if os.path.exists(self.socket):
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
        try:
            with open(self.log, errors="replace") as f:
                return f.read()[-4000:]
        except OSError:
            return "(no log)"

    def stop(self):
        self._close_admin()
        if self.process is None:
            return
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)  # a clean shutdown
            try:
                self.process.wait(STOP_TIMEOUT)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None

    def ensure_running(self):
        # A test that stopped the server and failed before starting it again.
        if self.process is None or self.process.poll() is not None:
            self.process = None
            self.start()

    def restart(self):
        """Stops the server cleanly and starts it again on the same data; open connections die."""
        self.stop()
        self.start()

    def close(self):
        self.stop()
        shutil.rmtree(self.folder, ignore_errors=True)

    def leftover_connections(self):
        # Nothing else uses this server: end every client connection but the harness's own.
        return self._admin_query(
            "SELECT id FROM information_schema.processlist"
            " WHERE id <> CONNECTION_ID() AND user NOT IN ('system user', 'event_scheduler', '')"
            " AND command NOT IN ('Daemon', 'Binlog Dump')")


def open_server(environ=os.environ):
    if environ.get("BRX_TEST_SOCKET") or environ.get("BRX_TEST_HOST"):
        return ExternalServer(environ)
    server = PrivateServer()
    try:
        server.install()
        server.start()
    except BaseException:
        server.close()
        raise
    return server
