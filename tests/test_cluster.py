"""The module on a three-node Galera cluster: a pool with failover settings losing its node to
SIGKILL in the middle of a workload of row graphs, the killed node rejoining, certification
conflicts between guards on different nodes, and the guide's examples (docs/cluster.md)."""
import pathlib
import threading
import time

import mysql.connector
import pytest
from mysql.connector import errorcode

from brx_sql import CNXGuard
from support.doc_blocks import run_document
from support.galera import Cluster, missing_requirements
from support.recording import Passing
from tables import CONNECTOR_ERRORS, Home, Person, Pet, ids

pytestmark = pytest.mark.cluster

DATABASE = "brx_cluster"
GUIDE = pathlib.Path(__file__).resolve().parent.parent / "docs" / "cluster.md"
# Every read of a check waits until the node has applied all that the cluster committed before.
CAUSAL = "SET SESSION wsrep_sync_wait = 7"
# The multi-foreign columns are indexed: a DELETE by an unindexed column locks every row it scans,
# and on a cluster each write that another node applies meanwhile then aborts it.
SCHEMA = ("CREATE TABLE homes (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20))",
          "CREATE TABLE persons (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20), home_id INT)",
          "CREATE TABLE pets (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20) UNIQUE, owner_id INT,"
          " KEY (owner_id))",
          "CREATE TABLE toys (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20), owner_id INT, KEY (owner_id))")


@pytest.fixture(scope="session")
def cluster():
    reason = missing_requirements()
    if reason:
        pytest.skip(reason)
    made = Cluster()
    try:
        made.start()
        yield made
    finally:
        made.close()


@pytest.fixture
def cluster_db(cluster):
    """All three nodes up and synced, the test database empty but for the tables of SCHEMA."""
    for index, node in enumerate(cluster.nodes):
        if not node.running():  # a test that killed it failed before restarting it
            cluster.restart(index)
    cluster.wait_synced()
    for node in cluster.nodes:  # a leftover transaction would hold the DROP forever
        for (thread,) in node.query("SELECT id FROM information_schema.processlist WHERE db = %s", (DATABASE,)):
            try:
                node.query("KILL CONNECTION %d" % thread)
            except mysql.connector.Error:
                pass
    first = cluster.nodes[0]
    first.query("DROP DATABASE IF EXISTS %s" % DATABASE)
    first.query("CREATE DATABASE %s" % DATABASE)
    for statement in SCHEMA:
        first.query(statement, database=DATABASE)
    return cluster


@pytest.fixture
def node_pools(pools):
    """`node_pools(nodes, mode, **extra)`: a pool over `nodes` (dicts for `failover`, or one node's settings)."""
    def make(nodes, mode, **extra):
        base = {"failover": nodes} if isinstance(nodes, list) else nodes
        return pools(**dict(base, user="root", password="", database=DATABASE, use_pure=(mode == "pure"), **extra))
    return make


def snapshot(node):
    """Every row of the test tables on `node`, after it caught up with the cluster."""
    return {table: node.query("SELECT * FROM %s ORDER BY id" % table, database=DATABASE, init_command=CAUSAL)
            for table in ("homes", "persons", "pets", "toys")}


# A graph of the workload: a person, the person's home and two pets, all named after the graph's
# tag and the person's version, so that its rows are found by name whatever ids they got.
class Graph:
    def __init__(self, tag):
        self.tag = tag
        self.person = Person(name="", home_id=Home(name="%s home" % tag), pets=[Pet(name=""), Pet(name="")])
        self.rename(0)
        self.states = {None}     # the versions the database may show; None: no rows
        self.done = False        # retired after a failed call, whose outcome is not known

    def rename(self, version):
        self.version = version
        self.person["name"] = "%s v%d" % (self.tag, version)
        for number, pet in enumerate(self.person.pets):
            pet["name"] = "%s p%d v%d" % (self.tag, number, version)

    def expected(self, version):
        if version is None:
            return {"homes": [], "persons": [], "pets": []}
        home = "%s home" % self.tag
        person = "%s v%d" % (self.tag, version)
        return {"homes": [home], "persons": [(person, home)],
                "pets": sorted(("%s p%d v%d" % (self.tag, n, version), person) for n in range(2))}

    def ids(self):
        return ids(self.person, self.person["home_id"], *self.person.pets)


def graph_rows(tables, tag):
    """The rows of `tables` named after `tag`, with ids replaced by the names they point at."""
    names = {table: {row[0]: row[1] for row in tables[table]} for table in ("homes", "persons")}
    mine = lambda rows: [row for row in rows if row[1].split(" ")[0] == tag]  # noqa: E731
    return {"homes": [row[1] for row in mine(tables["homes"])],
            "persons": [(row[1], names["homes"].get(row[2])) for row in mine(tables["persons"])],
            "pets": sorted((row[1], names["persons"].get(row[2])) for row in mine(tables["pets"]))}


def stored_ids(tables, graph):
    by_name = {row[1]: row[0] for table in ("homes", "persons", "pets") for row in tables[table]}
    return [by_name.get(row["name"]) for row in (graph.person, graph.person["home_id"], *graph.person.pets)]


def wait_for(condition, timeout):
    deadline = time.monotonic() + timeout
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.05)


def describe_node(node):
    try:
        status = node.status()
    except mysql.connector.Error as error:
        return repr(error)
    return "%s/%s" % (status.get("wsrep_cluster_status"), status.get("wsrep_local_state_comment"))


def failures_since(workload, moment):
    """How many calls begun after `moment` failed, by error, and how long the longest took."""
    seen = {}
    for start, end, failure in workload.calls:
        if start >= moment and failure is not None:
            key = "%s %s" % (type(failure).__name__, getattr(failure, "errno", ""))
            count, longest = seen.get(key, (0, 0.0))
            seen[key] = (count + 1, max(longest, round(end - start, 1)))
    return seen


class Workload:
    """Worker threads inserting, updating and deleting graphs of their own through one pool; as the
    pool they use, it notes which connection each borrow got and when the borrow began."""

    def __init__(self, pool, workers=4):
        self.real_pool, self.lent = pool, []
        self.workers = workers
        self.graphs = []
        self.calls = []        # (start, end, failure or None), in completion order
        self.unexpected = []   # exceptions that are not the connector's, ids not put back
        self.stop = threading.Event()
        self.lock = threading.Lock()

    def Get(self):
        begun = time.monotonic()
        self.lent.append((begun, self.real_pool.Get()))
        return self.lent[-1][1]

    def Put(self, cnx):
        self.real_pool.Put(cnx)

    def run_call(self, graph, action):
        before_ids, before_version = graph.ids(), graph.version
        start, failure = time.monotonic(), None
        try:
            if action == "insert":
                graph.person.Insert(pool=self)
                new_state = graph.version
            elif action == "update":
                graph.rename(graph.version + 1)
                graph.person.Update(pool=self)
                new_state = graph.version
            else:
                with CNXGuard(None, self) as cnx:  # the person, its pets and its home: one transaction
                    graph.person.Delete(cnx)
                    graph.person["home_id"].Delete(cnx)
                new_state = None
            graph.states = {new_state}
        except CONNECTOR_ERRORS as error:
            failure = error
            graph.states.add(None if action == "delete" else graph.version)  # what the call would have left
            graph.done = True
            if graph.ids() != before_ids:
                self.unexpected.append("%s %s: ids %s, were %s" % (action, graph.tag, graph.ids(), before_ids))
            graph.version = before_version
        except Exception as error:  # noqa: BLE001 (reported by the test)
            self.unexpected.append("%s %s: %r" % (action, graph.tag, error))
            graph.done = True
        with self.lock:
            self.calls.append((start, time.monotonic(), failure))

    def worker(self, number):
        live, count = [], 0
        while not self.stop.is_set():
            live = [graph for graph in live if not graph.done and graph.states != {None}]
            if len(live) < 2 or count % 4 == 0:
                graph = Graph("%d.%d" % (number, count))
                with self.lock:
                    self.graphs.append(graph)
                live.append(graph)
                self.run_call(graph, "insert")
            else:
                self.run_call(live[count % len(live)], "update" if count % 3 else "delete")
            count += 1

    def start(self):
        self.threads = [threading.Thread(target=self.worker, args=(n,)) for n in range(self.workers)]
        for thread in self.threads:
            thread.start()

    def finish(self):
        self.stop.set()
        for thread in self.threads:
            thread.join(60)
        assert not any(thread.is_alive() for thread in self.threads), "a worker hangs"

    def successes_since(self, moment):
        return [call for call in self.calls if call[0] >= moment and call[2] is None]


def check_graphs(tables, graphs):
    """(lost, half done) over every graph of a workload."""
    lost, half = [], []
    for graph in graphs:
        found = graph_rows(tables, graph.tag)
        full = {state for state in graph.states if graph.expected(state) == found}
        if not full:
            (lost if len(graph.states) == 1 else half).append((graph.tag, graph.states, found))
        elif len(graph.states) == 1 and graph.states != {None} and stored_ids(tables, graph) != graph.ids():
            lost.append((graph.tag, "ids", stored_ids(tables, graph), graph.ids()))
    return lost, half


def test_failover_under_sigkill_loses_nothing_and_the_node_rejoins(cluster_db, node_pools, connector_mode):
    cluster = cluster_db
    victim, *survivors = cluster.nodes
    # Every connection goes to the victim while it lives, then to either survivor.
    nodes = [dict(cluster.failover()[0], priority=100)] + [dict(n, priority=50) for n in cluster.failover()[1:]]
    workload = Workload(node_pools(nodes, connector_mode))
    workload.start()
    try:
        wait_for(lambda: len(workload.calls) >= 40, 30)
        killed_at = time.monotonic()
        victim.kill()
        dead_at = time.monotonic()
        # A loaded machine may take the survivors a while to agree on their new view.
        wait_for(lambda: len(workload.successes_since(killed_at)) >= 40, 120)
        survivor_states = [describe_node(node) for node in survivors]
    finally:
        workload.finish()
    after = workload.successes_since(killed_at)
    failures = [call[2] for call in workload.calls if call[2] is not None]
    assert workload.unexpected == []
    assert failures, "no borrower was cut off by the kill"
    assert len(after) >= 40, "the workload did not go on on the surviving nodes: %s; failures since the kill: %s" % (
        survivor_states, failures_since(workload, killed_at))
    # Borrows begun once the victim was gone got a connection to a survivor, never a dead one.
    assert all(cnx.server_port != victim.sql_port for begun, cnx in workload.lent if begun > dead_at)

    tables = snapshot(survivors[0])
    assert snapshot(survivors[1]) == tables
    assert check_graphs(tables, workload.graphs) == ([], [])
    cluster.restart(0)
    assert victim.joined_by_ist(), victim.latest_log()[-3000:]
    assert snapshot(victim) == tables


class StalledCommits:
    """A pool whose connections wait for `release` before they commit."""

    def __init__(self, pool):
        self.pool, self.at_commit, self.release = pool, threading.Event(), threading.Event()
        self.commit_errors = []

    def Get(self):
        connection = Passing(self.pool.Get())
        connection.commit = lambda: self.commit(connection.real)
        return connection

    def Put(self, cnx):
        self.pool.Put(cnx.real)

    def commit(self, real):
        self.at_commit.set()
        self.release.wait(30)
        try:
            return real.commit()
        except CONNECTOR_ERRORS as error:
            self.commit_errors.append(error)
            raise


def test_certification_conflict_between_nodes_fails_one_commit(cluster_db, node_pools, connector_mode):
    cluster = cluster_db
    pool_a, pool_b = (node_pools(node.settings(), connector_mode, init_command=CAUSAL) for node in cluster.nodes[1:])
    graph = Graph("c")
    graph.person.Insert(pool=pool_a)
    mine = graph.person                     # the writer on node 3, which rewrites the pets too
    theirs = CNXGuard.Select(mine["id"], "persons", Person, pool=pool_a)  # the writer on node 2
    theirs.FillForeign(False, pool=pool_a)
    stalled = StalledCommits(pool_b)
    before = graph.ids()
    outcome = []

    def write_on_b():
        graph.rename(1)
        try:
            mine.Update(pool=stalled)
            outcome.append(None)
        except CONNECTOR_ERRORS as error:
            outcome.append(error)

    thread = threading.Thread(target=write_on_b)
    thread.start()
    try:
        assert stalled.at_commit.wait(30), "the writer on node 3 never reached its commit"
        theirs["name"] = "c other"
        theirs.Update(False, pool=pool_a)   # node 2 commits first: certified
    finally:
        stalled.release.set()
        thread.join(30)
    [error] = outcome
    assert getattr(error, "errno", None) == errorcode.ER_LOCK_DEADLOCK, repr(error)
    # it surfaced at commit, from the connector (the C extension's own error raised as the connector's)
    assert stalled.commit_errors in ([error], [error.__cause__])
    assert graph.ids() == before             # as after any failed call
    for node in cluster.nodes:
        assert graph_rows(snapshot(node), "c") == {
            "homes": ["c home"], "persons": [("c other", "c home")],
            "pets": [("c p0 v0", "c other"), ("c p1 v0", "c other")]}
    mine.Update(pool=pool_b)                 # the unit of work again: it goes through now
    assert stored_ids(snapshot(cluster.nodes[0]), graph) == graph.ids()


def test_guide_examples_run_and_the_priority_key_it_warns_of(cluster_db, pools):
    cluster = cluster_db
    target = {"failover": cluster.failover(), "user": "root", "password": "", "database": DATABASE}
    run_document(GUIDE, target)
    nodes = cluster.failover()
    pool = pools(failover=nodes, user="root", password="", database=DATABASE)
    with CNXGuard(None, pool):
        pass
    assert all(node["priority"] == 100 for node in nodes)  # written by the connector
    with pytest.raises(AttributeError, match="Unsupported argument 'priority'"):
        mysql.connector.connect(**nodes[0], user="root", password="")
    mysql.connector.connect(**{k: v for k, v in nodes[0].items() if k != "priority"}, user="root").close()
