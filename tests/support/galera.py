"""A private three-node MariaDB Galera cluster on loopback, for the cluster tests and by hand.

Each node lives in a folder of its own under one temporary folder and listens on 127.0.0.1 only, on
four ports picked free at start: SQL, group communication, incremental and full state transfer. No
option file is read (--no-defaults). The first node bootstraps the cluster, the others join by a
full state transfer (rsync). rsync's daemon drops its privileges, so as root the folders belong to
the `mysql` user and the nodes run with --user=mysql. Failure detection is tightened (a silent node
is dropped after about two seconds) so that a test killing a node does not wait long.
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

from support.mariadb import _which, install, log_tail, query, server_command, server_environment

PROVIDER = "/usr/lib/galera/libgalera_smm.so"
START_TIMEOUT = 180
STOP_TIMEOUT = 60
# Group-communication timeouts: keepalive <= inactive check <= suspect <= inactive.
PROVIDER_TIMEOUTS = ("evs.keepalive_period=PT0.5S", "evs.inactive_check_period=PT0.5S",
                     "evs.suspect_timeout=PT2S", "evs.inactive_timeout=PT3S",
                     "evs.install_timeout=PT3S", "pc.wait_prim_timeout=PT30S")


def missing_requirements():
    """Why a cluster cannot start on this machine, or None when it can."""
    missing = [] if os.path.exists(PROVIDER) else ["galera-4 (%s)" % PROVIDER]
    if shutil.which("rsync") is None:
        missing.append("rsync")
    try:
        _which(("mariadbd", "mysqld"))
    except RuntimeError:
        missing.append("mariadb-server")
    if os.geteuid() == 0:
        try:
            pwd.getpwnam("mysql")
        except KeyError:
            missing.append("a `mysql` user (needed to run the nodes as non-root)")
    return "a Galera cluster needs %s (scripts/setup.sh installs them)" % ", ".join(missing) if missing else None


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


def free_ports(count):
    """`count` TCP ports free on 127.0.0.1 now, below the ephemeral range: the later nodes bind theirs
    seconds after, and meanwhile the kernel hands out only ephemeral ports to outgoing connections."""
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
            low = int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        low = 32768
    candidates = random.sample(range(max(1024, low - 20000), low), min(20000, low - 1024))
    found = []
    for port in candidates:
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
            try:
                probe.bind(("127.0.0.1", port))
            except OSError:
                continue
        found.append(port)
        if len(found) == count:
            return found
    raise RuntimeError("no %d free TCP ports below %d on 127.0.0.1" % (count, low))


class Node:
    """One cluster member: its folder, its ports, its process (or only its PID, for scripts/cluster.sh)."""

    def __init__(self, cluster, index, ports):
        self.cluster, self.name = cluster, "node%d" % (index + 1)
        self.sql_port, self.gcomm_port, self.ist_port, self.sst_port = ports
        self.folder = os.path.join(cluster.folder, self.name)
        self.datadir = os.path.join(self.folder, "data")
        self.socket = os.path.join(self.folder, "mysqld.sock")
        self.log = os.path.join(self.folder, "error.log")
        self.process = self.pid = None
        self.log_offset = 0  # where the log of the latest start begins

    def settings(self):
        return {"host": "127.0.0.1", "port": self.sql_port, "user": "root", "password": ""}

    def running(self):
        if self.process is not None:
            return self.process.poll() is None
        return self.pid is not None and _is_server_of(self.pid, self.datadir)

    def command(self, *extra):
        members = ",".join("127.0.0.1:%d" % node.gcomm_port for node in self.cluster.nodes)
        provider_options = ";".join(("gmcast.listen_addr=tcp://127.0.0.1:%d" % self.gcomm_port,
                                     "ist.recv_addr=127.0.0.1:%d" % self.ist_port, "gcache.size=64M",
                                     *PROVIDER_TIMEOUTS))
        return server_command(
            self.folder, "--port=%d" % self.sql_port, "--bind-address=127.0.0.1", "--binlog-format=ROW",
            "--default-storage-engine=InnoDB", "--innodb-autoinc-lock-mode=2", "--wsrep-on=ON",
            "--wsrep-provider=%s" % PROVIDER, "--wsrep-cluster-name=%s" % self.cluster.name,
            "--wsrep-cluster-address=gcomm://%s" % members, "--wsrep-node-name=%s" % self.name,
            "--wsrep-node-address=127.0.0.1:%d" % self.gcomm_port,
            "--wsrep-node-incoming-address=127.0.0.1:%d" % self.sql_port,
            "--wsrep-provider-options=%s" % provider_options, "--wsrep-sst-method=rsync",
            "--wsrep-sst-receive-address=127.0.0.1:%d" % self.sst_port, *self.cluster.user_options, *extra)

    def launch(self, *extra):
        """Starts the node's process; does not wait for it (see wait_synced)."""
        if self.running():
            return
        os.makedirs(self.datadir, exist_ok=True)
        with open(self.log, "ab") as log:
            self.log_offset = log.tell()
        self.cluster.give_to_server(self.folder, self.datadir, self.log)
        self.process = subprocess.Popen(self.command(*extra), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, env=server_environment())
        self.pid = self.process.pid

    def recover_position(self):
        """The last transaction ("uuid:seqno") this node's data holds. A crashed node leaves no clean
        position behind; without this one it would rejoin with a full copy instead of what it missed."""
        log = os.path.join(self.folder, "recover.log")
        open(log, "wb").close()
        self.cluster.give_to_server(log)
        command = [arg for arg in self.command() if not arg.startswith("--log-error=")]
        subprocess.run(command + ["--log-error=%s" % log, "--wsrep-recover"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=START_TIMEOUT,
                       env=server_environment())
        found = re.findall(r"WSREP: Recovered position:\s*(\S+:-?\d+)", log_tail(log, None))
        return found[-1] if found else None

    def connect(self, **extra):
        return mysql.connector.connect(**self.settings(), use_pure=True, autocommit=True,
                                       connection_timeout=5, **extra)

    def query(self, sql, params=None, **extra):
        """Runs one statement on this node on a connection of its own (`extra`: its settings); returns the rows."""
        cnx = self.connect(**extra)
        try:
            return query(cnx, sql, params)
        finally:
            cnx.close()

    def status(self):
        rows = self.query("SHOW GLOBAL STATUS LIKE 'wsrep%'")
        return {name: value.decode() if isinstance(value, bytes) else value for name, value in rows}

    def wait_synced(self, size, timeout=START_TIMEOUT):
        """Waits until the node is ready, synced and sees a primary cluster of `size` members."""
        deadline = time.monotonic() + timeout
        wanted = {"wsrep_ready": "ON", "wsrep_local_state_comment": "Synced", "wsrep_cluster_status": "Primary",
                  "wsrep_cluster_size": str(size)}
        while True:
            try:
                if wanted.items() <= self.status().items():
                    return
            except mysql.connector.Error:
                pass
            if not self.running() or time.monotonic() > deadline:
                raise RuntimeError("%s not synced in a cluster of %d (%s):\n%s" % (
                    self.name, size, "running" if self.running() else "not running", log_tail(self.log)))
            time.sleep(0.1)

    def stop(self, signals=(signal.SIGTERM, signal.SIGKILL)):
        """Ends the node by its PID, waited for: a clean shutdown (SIGKILL if it hangs) by default."""
        for signum in signals if self.running() else ():
            os.kill(self.pid, signum)
            deadline = time.monotonic() + STOP_TIMEOUT
            while self.running() and time.monotonic() < deadline:
                time.sleep(0.05)
            if not self.running():
                break
        self.process = self.pid = None

    def kill(self):
        """SIGKILL: the process dies at once, as in a crash."""
        self.stop((signal.SIGKILL,))

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


class Cluster:
    """Galera nodes under one temporary folder. `Cluster()` picks a new folder and free ports;
    `Cluster.load(path)` finds again a cluster whose `save(path)` another process wrote."""

    def __init__(self, size=3, folder=None, ports=None):
        if folder is None:
            # A short folder (socket paths are limited to about 107 bytes) the server's user can traverse.
            folder = tempfile.mkdtemp(prefix="brx-galera-", dir="/tmp")
            os.chmod(folder, 0o755)
        self.folder = folder
        self.name = "brx-" + os.path.basename(folder).replace("brx-galera-", "")
        self.server_user = pwd.getpwnam("mysql") if os.geteuid() == 0 else None
        self.user_options = ["--user=mysql"] if self.server_user else []
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
        cluster = cls(len(state["nodes"]), state["folder"], [p for node in state["nodes"] for p in node["ports"]])
        cluster.start_seconds = state.get("start_seconds")
        for node, saved in zip(cluster.nodes, state["nodes"]):
            node.pid = saved["pid"]
        return cluster

    def give_to_server(self, *paths):
        for path in paths if self.server_user else ():
            os.chown(path, self.server_user.pw_uid, self.server_user.pw_gid)

    def start(self):
        """System tables for the first node only (the others get everything by state transfer); the
        first node bootstraps, the others join one by one; waits until all are synced."""
        began = time.monotonic()
        first = self.nodes[0]
        os.makedirs(first.datadir)
        self.give_to_server(first.folder, first.datadir)
        install(first.datadir, self.user_options)
        first.launch("--wsrep-new-cluster")
        first.wait_synced(1)
        # root may connect over TCP from loopback with an empty password, as over the socket.
        first.query("CREATE USER IF NOT EXISTS 'root'@'127.0.0.1' IDENTIFIED BY ''")
        first.query("GRANT ALL PRIVILEGES ON *.* TO 'root'@'127.0.0.1' WITH GRANT OPTION")
        for count, node in enumerate(self.nodes[1:], start=2):
            node.launch()
            node.wait_synced(count)
        self.start_seconds = time.monotonic() - began
        return self

    def wait_synced(self, timeout=START_TIMEOUT):
        """Waits until every running node is synced in a cluster of all running nodes."""
        running = [node for node in self.nodes if node.running()]
        for node in running:
            node.wait_synced(len(running), timeout)

    def restart(self, index, timeout=START_TIMEOUT):
        """Starts a stopped or killed node again on its data: it rejoins and catches up."""
        node = self.nodes[index]
        position = node.recover_position()
        node.launch(*["--wsrep-start-position=%s" % position] if position else [])
        self.wait_synced(timeout)

    def failover(self):
        """The `failover` setting of a connection: one fresh dict per node."""
        return [{"host": "127.0.0.1", "port": node.sql_port} for node in self.nodes]

    def close(self):
        try:
            for node in reversed(self.nodes):
                node.stop()
        finally:
            shutil.rmtree(self.folder, ignore_errors=True)

    def describe(self):
        lines = ["cluster %s in %s" % (self.name, self.folder)]
        for node in self.nodes:
            state = "stopped"
            if node.running():
                try:
                    status = node.status()
                    state = "%s, cluster size %s, ready %s" % (status.get("wsrep_local_state_comment"),
                                                                status.get("wsrep_cluster_size"), status.get("wsrep_ready"))
                except mysql.connector.Error as error:
                    state = "not answering (%s)" % error
            lines.append("%s pid %s (%s): host=127.0.0.1 port=%d unix_socket=%s user=root password=''"
                         % (node.name, node.pid, state, node.sql_port, node.socket))
        return "\n".join(lines + ["failover=%r" % self.failover()])


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
        if missing_requirements():
            parser.error(missing_requirements())
        cluster = Cluster()
        try:
            cluster.start()
        except BaseException:
            cluster.close()
            raise
        cluster.save(options.state)
        print("started in %.1f s\n%s" % (cluster.start_seconds, cluster.describe()))
        return 0
    if not known:
        print("no cluster recorded in %s" % options.state)
        return 0 if options.action in ("stop", "status") else 1
    cluster = Cluster.load(options.state)
    if options.action == "stop":
        cluster.close()
        os.remove(options.state)
        print("stopped; %s removed" % cluster.folder)
        return 0
    if options.action in ("kill", "restart"):
        if options.node is None or not 1 <= options.node <= len(cluster.nodes):
            parser.error("%s needs a node number from 1 to %d" % (options.action, len(cluster.nodes)))
        if options.action == "kill":
            cluster.nodes[options.node - 1].kill()
        else:
            cluster.restart(options.node - 1)
        cluster.save(options.state)
    print(cluster.describe())
    return 0


if __name__ == "__main__":
    import sys
    sys.exit(main(sys.argv[1:]))
