"""A private three-node MariaDB Galera cluster on loopback, for the cluster tests and by hand.

Each node lives in a folder of its own under one temporary folder: data directory, socket, pid
file, error log. Every node listens on 127.0.0.1 only, on four ports picked free at start: SQL,
group communication (gmcast.listen_addr), incremental state transfer (ist.recv_addr) and full
state transfer (wsrep_sst_receive_address). No option file is read (--no-defaults), so the
machine's own server and configuration never matter.

The first node bootstraps a new cluster, the others join it with a full state transfer by rsync.
rsync's daemon drops its privileges, so when the harness runs as root the folders belong to the
`mysql` user and the nodes run with --user=mysql; otherwise everything runs as the caller.

Failure detection is tightened (a node that stops answering is dropped after about two seconds
instead of the default five to fifteen) so that a test killing a node does not wait long.
"""
import json
import os
import pwd
import random
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time

import mysql.connector

from support.mariadb import server_environment

PROVIDER = "/usr/lib/galera/libgalera_smm.so"
NODE_COUNT = 3
START_TIMEOUT = 180
STOP_TIMEOUT = 60
LOCK_WAIT_TIMEOUT = 10

# Group-communication timeouts: keepalive <= inactive check <= suspect <= inactive.
PROVIDER_TIMEOUTS = ("evs.keepalive_period=PT0.5S", "evs.inactive_check_period=PT0.5S",
                     "evs.suspect_timeout=PT2S", "evs.inactive_timeout=PT3S",
                     "evs.install_timeout=PT3S", "pc.wait_prim_timeout=PT30S")


def missing_requirements():
    """Why a cluster cannot start on this machine, or None when it can."""
    missing = []
    if not os.path.exists(PROVIDER):
        missing.append("galera-4 (%s)" % PROVIDER)
    if shutil.which("rsync") is None:
        missing.append("rsync")
    if _find(("mariadbd", "mysqld")) is None:
        missing.append("mariadb-server")
    if os.geteuid() == 0 and not _has_user("mysql"):
        missing.append("a `mysql` user (needed to run the nodes as non-root)")
    if not missing:
        return None
    return "a Galera cluster needs " + ", ".join(missing) + " (scripts/setup.sh installs them)"


def _find(names):
    for name in names:
        found = shutil.which(name) or next(
            (os.path.join(d, name) for d in ("/usr/sbin", "/usr/bin") if os.access(os.path.join(d, name), os.X_OK)),
            None)
        if found:
            return found
    return None


def _has_user(name):
    try:
        pwd.getpwnam(name)
        return True
    except KeyError:
        return False


def _is_server_of(pid, datadir):
    """True when `pid` is alive and is the server of `datadir` (not a reused PID)."""
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            arguments = f.read().split(b"\0")
        with open("/proc/%d/stat" % pid) as f:
            zombie = f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except (OSError, IndexError):
        return False
    return not zombie and ("--datadir=%s" % datadir).encode() in arguments


def _ephemeral_range():
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
            low, high = (int(part) for part in f.read().split())
        return low, high
    except (OSError, ValueError):
        return 32768, 60999


def free_ports(count):
    """`count` distinct TCP ports free on 127.0.0.1 now, below the ephemeral range.

    The later nodes bind theirs seconds after they were picked; the kernel hands out ephemeral
    ports to outgoing connections meanwhile, but never one from below that range.
    """
    low = _ephemeral_range()[0]
    candidates = list(range(max(1024, low - 20000), low))
    random.shuffle(candidates)
    found = []
    for port in candidates:
        probe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            probe.bind(("127.0.0.1", port))
            found.append(port)
        except OSError:
            continue
        finally:
            probe.close()
        if len(found) == count:
            return found
    raise RuntimeError("no %d free TCP ports below %d on 127.0.0.1" % (count, low))


class Node:
    """One cluster member: its folder, its ports, its process."""

    def __init__(self, cluster, index, ports):
        self.cluster = cluster
        self.index = index
        self.name = "node%d" % (index + 1)
        self.sql_port, self.gcomm_port, self.ist_port, self.sst_port = ports
        self.folder = os.path.join(cluster.folder, self.name)
        self.datadir = os.path.join(self.folder, "data")
        self.socket = os.path.join(self.folder, "mysqld.sock")
        self.pidfile = os.path.join(self.folder, "mysqld.pid")
        self.log = os.path.join(self.folder, "error.log")
        self.process = None  # set when this process started the node
        self.pid = None      # known also when another process started it (scripts/cluster.sh)
        self.log_offset = 0  # where the log of the latest start begins

    def settings(self):
        """Connection settings for this node (keyword arguments for mysql.connector.connect)."""
        return {"host": "127.0.0.1", "port": self.sql_port, "user": "root", "password": ""}

    def running(self):
        if self.process is not None:
            return self.process.poll() is None
        return self.pid is not None and _is_server_of(self.pid, self.datadir)

    def command(self, bootstrap):
        cluster = self.cluster
        members = ",".join("127.0.0.1:%d" % node.gcomm_port for node in cluster.nodes)
        provider_options = ";".join(("gmcast.listen_addr=tcp://127.0.0.1:%d" % self.gcomm_port,
                                     "ist.recv_addr=127.0.0.1:%d" % self.ist_port,
                                     "gcache.size=64M", *PROVIDER_TIMEOUTS))
        command = [cluster.mariadbd, "--no-defaults", "--datadir=%s" % self.datadir,
                   "--socket=%s" % self.socket, "--pid-file=%s" % self.pidfile,
                   "--log-error=%s" % self.log, "--tmpdir=%s" % self.folder,
                   "--port=%d" % self.sql_port, "--bind-address=127.0.0.1", "--skip-name-resolve",
                   "--character-set-server=utf8mb4", "--collation-server=utf8mb4_general_ci",
                   "--lock-wait-timeout=%d" % LOCK_WAIT_TIMEOUT,
                   "--innodb-lock-wait-timeout=%d" % LOCK_WAIT_TIMEOUT,
                   "--innodb-buffer-pool-size=64M", "--innodb-log-file-size=16M",
                   "--innodb-flush-log-at-trx-commit=2", "--max-connections=300",
                   "--binlog-format=ROW", "--default-storage-engine=InnoDB",
                   "--innodb-autoinc-lock-mode=2",
                   "--wsrep-on=ON", "--wsrep-provider=%s" % PROVIDER,
                   "--wsrep-cluster-name=%s" % cluster.name,
                   "--wsrep-cluster-address=gcomm://%s" % members,
                   "--wsrep-node-name=%s" % self.name,
                   "--wsrep-node-address=127.0.0.1:%d" % self.gcomm_port,
                   "--wsrep-node-incoming-address=127.0.0.1:%d" % self.sql_port,
                   "--wsrep-provider-options=%s" % provider_options,
                   "--wsrep-sst-method=rsync",
                   "--wsrep-sst-receive-address=127.0.0.1:%d" % self.sst_port,
                   *cluster.user_options]
        if bootstrap:
            command.append("--wsrep-new-cluster")
        return command

    def launch(self, bootstrap=False, start_position=None):
        """Starts the node's process; does not wait for it (see wait_synced)."""
        if self.running():
            return
        os.makedirs(self.datadir, exist_ok=True)
        self.cluster.give_to_server(self.folder, self.datadir)
        with open(self.log, "ab") as log:
            self.log_offset = log.tell()
        self.cluster.give_to_server(self.log)
        command = self.command(bootstrap)
        if start_position:
            command.append("--wsrep-start-position=%s" % start_position)
        self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, env=server_environment())
        self.pid = self.process.pid

    def recover_position(self):
        """The last transaction this node's data holds ("uuid:seqno"), read from its storage.

        A node that crashed leaves no clean position behind; without this one it would rejoin
        with a full copy of the data instead of receiving only what it missed.
        """
        log = os.path.join(self.folder, "recover.log")
        with open(log, "wb"):
            pass
        self.cluster.give_to_server(log)
        command = [arg for arg in self.command(False) if not arg.startswith("--log-error=")]
        command += ["--log-error=%s" % log, "--wsrep-recover"]
        subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=START_TIMEOUT, env=server_environment())
        with open(log, errors="replace") as f:
            found = re.findall(r"WSREP: Recovered position:\s*(\S+:-?\d+)", f.read())
        return found[-1] if found else None

    def connect(self, **extra):
        return mysql.connector.connect(**self.settings(), use_pure=True, autocommit=True,
                                       connection_timeout=5, **extra)

    def query(self, sql, params=None):
        """Runs one statement on this node on a connection of its own; returns the rows."""
        cnx = self.connect()
        try:
            cursor = cnx.cursor()
            cursor.execute(sql, params)
            return cursor.fetchall() if cursor.with_rows else []
        finally:
            cnx.close()

    def status(self):
        """This node's wsrep status variables as a dict of strings."""
        rows = self.query("SHOW GLOBAL STATUS LIKE 'wsrep%'")
        return {name: value.decode() if isinstance(value, bytes) else value for name, value in rows}

    def synced(self, size):
        """True when the node is ready, synced and sees a primary cluster of `size` members."""
        try:
            status = self.status()
        except mysql.connector.Error:
            return False
        return (status.get("wsrep_ready") == "ON"
                and status.get("wsrep_local_state_comment") == "Synced"
                and status.get("wsrep_cluster_status") == "Primary"
                and status.get("wsrep_cluster_size") == str(size))

    def wait_synced(self, size, timeout=START_TIMEOUT):
        deadline = time.monotonic() + timeout
        while not self.synced(size):
            if not self.running():
                raise RuntimeError("%s is not running:\n%s" % (self.name, self.log_tail()))
            if time.monotonic() > deadline:
                raise RuntimeError("%s not synced in a cluster of %d within %d s:\n%s"
                                   % (self.name, size, timeout, self.log_tail()))
            time.sleep(0.1)

    def stop(self):
        """A clean shutdown by the node's PID (SIGTERM), waited for; SIGKILL if it hangs."""
        if self.running() and not self._signal_and_wait(signal.SIGTERM, STOP_TIMEOUT):
            self._signal_and_wait(signal.SIGKILL, STOP_TIMEOUT)
        self.process = self.pid = None

    def kill(self):
        """SIGKILL by the node's PID: the process dies at once, as in a crash."""
        if self.running():
            self._signal_and_wait(signal.SIGKILL, STOP_TIMEOUT)
        self.process = self.pid = None

    def _signal_and_wait(self, signum, timeout):
        os.kill(self.pid, signum)
        if self.process is not None:
            try:
                self.process.wait(timeout)
                return True
            except subprocess.TimeoutExpired:
                return False
        deadline = time.monotonic() + timeout
        while _is_server_of(self.pid, self.datadir):
            if time.monotonic() > deadline:
                return False
            time.sleep(0.05)
        return True

    def latest_log(self):
        """The log written since the node's latest start."""
        try:
            with open(self.log, "rb") as f:
                f.seek(self.log_offset)
                return f.read().decode(errors="replace")
        except OSError:
            return ""

    def joined_by_ist(self):
        """True when the latest start caught up by incremental state transfer, not a full copy."""
        log = self.latest_log()
        return "IST received" in log and "rsync SST completed" not in log

    def log_tail(self, size=4000):
        try:
            with open(self.log, errors="replace") as f:
                return f.read()[-size:]
        except OSError:
            return "(no log)"


class Cluster:
    """Galera nodes under one temporary folder: `start()`, `kill(i)`, `restart(i)`, `close()`.

    `Cluster()` picks a new folder and free ports; `Cluster.load(path)` finds again a cluster whose
    `save(path)` another process wrote (scripts/cluster.sh).
    """

    def __init__(self, size=NODE_COUNT, base=None, folder=None, ports=None):
        self.mariadbd = _find(("mariadbd", "mysqld"))
        self.install_db = _find(("mariadb-install-db", "mysql_install_db"))
        if folder is None:
            # Unix socket paths are limited to about 107 bytes, and the server's user must reach
            # the folder: a short folder under /tmp, open to others for traversal.
            folder = tempfile.mkdtemp(prefix="brx-galera-", dir=base or "/tmp")
            os.chmod(folder, 0o755)
        self.folder = folder
        self.name = "brx-" + os.path.basename(folder).replace("brx-galera-", "")
        as_root = os.geteuid() == 0
        self.server_user = pwd.getpwnam("mysql") if as_root else None
        self.user_options = ["--user=mysql"] if as_root else []
        ports = ports or free_ports(4 * size)
        self.nodes = [Node(self, i, ports[4 * i:4 * i + 4]) for i in range(size)]
        self.start_seconds = None

    def save(self, path):
        state = {"folder": self.folder, "start_seconds": self.start_seconds,
                 "nodes": [{"ports": [n.sql_port, n.gcomm_port, n.ist_port, n.sst_port], "pid": n.pid}
                           for n in self.nodes]}
        with open(path, "w") as f:
            json.dump(state, f, indent=1)

    @classmethod
    def load(cls, path):
        with open(path) as f:
            state = json.load(f)
        ports = [port for node in state["nodes"] for port in node["ports"]]
        cluster = cls(len(state["nodes"]), folder=state["folder"], ports=ports)
        cluster.start_seconds = state.get("start_seconds")
        for node, saved in zip(cluster.nodes, state["nodes"]):
            node.pid = saved["pid"]
        return cluster

    def give_to_server(self, *paths):
        if self.server_user is not None:
            for path in paths:
                os.chown(path, self.server_user.pw_uid, self.server_user.pw_gid)

    def install(self):
        """System tables for the first node only: the others get everything by state transfer."""
        first = self.nodes[0]
        os.makedirs(first.datadir, exist_ok=True)
        self.give_to_server(first.folder, first.datadir)
        command = [self.install_db, "--no-defaults", "--datadir=%s" % first.datadir,
                   "--auth-root-authentication-method=normal", "--skip-test-db", *self.user_options]
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                env=server_environment())
        if result.returncode != 0:
            raise RuntimeError("mariadb-install-db failed:\n" + result.stdout[-4000:])

    def start(self):
        """Installs, bootstraps the first node, joins the others one by one; waits until all are synced."""
        began = time.monotonic()
        self.install()
        first, *others = self.nodes
        first.launch(bootstrap=True)
        first.wait_synced(1)
        # root may connect over TCP from loopback with an empty password, as over the socket.
        first.query("CREATE USER IF NOT EXISTS 'root'@'127.0.0.1' IDENTIFIED BY ''")
        first.query("GRANT ALL PRIVILEGES ON *.* TO 'root'@'127.0.0.1' WITH GRANT OPTION")
        for count, node in enumerate(others, start=2):
            node.launch()
            node.wait_synced(count)
        self.wait_synced()
        self.start_seconds = time.monotonic() - began
        return self

    def running_nodes(self):
        return [node for node in self.nodes if node.running()]

    def wait_synced(self, timeout=START_TIMEOUT):
        """Waits until every running node is synced in a cluster of all running nodes."""
        running = self.running_nodes()
        for node in running:
            node.wait_synced(len(running), timeout)

    def kill(self, index):
        self.nodes[index].kill()

    def restart(self, index, timeout=START_TIMEOUT):
        """Starts a stopped or killed node again on its data: it rejoins and catches up."""
        node = self.nodes[index]
        node.launch(start_position=node.recover_position())
        self.wait_synced(timeout)

    def failover(self):
        """The `failover` setting of a connection: one fresh dict per node."""
        return [{"host": "127.0.0.1", "port": node.sql_port} for node in self.nodes]

    def stop(self):
        for node in reversed(self.nodes):
            node.stop()

    def close(self):
        try:
            self.stop()
        finally:
            shutil.rmtree(self.folder, ignore_errors=True)

    def describe(self):
        """One line per node: its state and connection settings."""
        lines = ["cluster %s in %s" % (self.name, self.folder)]
        for node in self.nodes:
            if not node.running():
                state = "stopped"
            else:
                try:
                    status = node.status()
                    state = "%s, cluster size %s, ready %s" % (
                        status.get("wsrep_local_state_comment"), status.get("wsrep_cluster_size"),
                        status.get("wsrep_ready"))
                except mysql.connector.Error as error:
                    state = "not answering (%s)" % error
            lines.append("%s pid %s (%s): host=127.0.0.1 port=%d unix_socket=%s user=root password=''"
                         % (node.name, node.pid, state, node.sql_port, node.socket))
        lines.append("failover=%r" % self.failover())
        return "\n".join(lines)


def main(arguments):
    """scripts/cluster.sh: start | stop | status | kill N | restart N, the state kept in a file."""
    import argparse
    parser = argparse.ArgumentParser(prog="cluster.sh", description=main.__doc__)
    parser.add_argument("--state", required=True, help="where the running cluster is recorded")
    parser.add_argument("action", choices=("start", "stop", "status", "kill", "restart"))
    parser.add_argument("node", nargs="?", type=int, help="node number (1 to 3) for kill and restart")
    options = parser.parse_args(arguments)
    known = os.path.exists(options.state)
    if options.action == "start":
        if known:
            parser.error("a cluster is recorded in %s already: stop it first" % options.state)
        reason = missing_requirements()
        if reason:
            parser.error(reason)
        cluster = Cluster()
        try:
            cluster.start()
        except BaseException:
            cluster.close()
            raise
        cluster.save(options.state)
        print("started in %.1f s" % cluster.start_seconds)
        print(cluster.describe())
        return 0
    if not known:
        print("no cluster recorded in %s" % options.state)
        return 0 if options.action in ("stop", "status") else 1
    cluster = Cluster.load(options.state)
    if options.action == "stop":
        cluster.close()
        os.remove(options.state)
        print("stopped; %s removed" % cluster.folder)
    elif options.action == "status":
        print(cluster.describe())
    else:
        if options.node is None or not 1 <= options.node <= len(cluster.nodes):
            parser.error("%s needs a node number from 1 to %d" % (options.action, len(cluster.nodes)))
        if options.action == "kill":
            cluster.kill(options.node - 1)
        else:
            cluster.restart(options.node - 1)
        cluster.save(options.state)
        print(cluster.describe())
    return 0


if __name__ == "__main__":
    import sys
    sys.exit(main(sys.argv[1:]))
