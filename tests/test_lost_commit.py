"""The reply to a COMMIT lost on the way back (a relay forwards the COMMIT, then drops the connection): the
caller gets the connector's error, objects are put back, the connection stays out of the pool."""
import pathlib

import mysql.connector
import pytest

from brx_sql import Cache, CNXGuard
from support.doc_blocks import run_document
from support.proxy import CommitDropProxy
from tables import Home, Person, Pet, counts, graph, ids, idle

GUIDE = pathlib.Path(__file__).resolve().parent.parent / "docs" / "failures.md"


@pytest.fixture
def proxy(server):
    relay = CommitDropProxy(server.settings())
    yield relay
    relay.close()


@pytest.fixture
def relayed(dbconfig, proxy):
    """Settings of the first test database through the relay (same connector mode)."""
    return dict({k: v for k, v in dbconfig.items() if k != "unix_socket"}, **proxy.settings())


def test_lost_commit_reply_fails_the_graph_insert_that_the_server_committed(tables, proxy, pools, relayed):
    relayed_pool = pools(**relayed)
    cache = Cache(relayed_pool)
    Person.CACHE = Pet.CACHE = cache
    person = graph("rex", "tom")
    relayed_pool.Put(relayed_pool.Get())  # one idle connection, to see that the broken one stays out
    proxy.drop_commits(1)
    with pytest.raises(mysql.connector.Error) as caught:  # the C extension's own error, turned into this one
        person.Insert(pool=relayed_pool)
    assert relayed["use_pure"] or type(caught.value.__cause__).__name__ == "MySQLInterfaceError"
    assert proxy.wait_dropped(1)
    # treated as any failure: ids put back, cache entries gone, the connection not given back
    assert ids(person, person["home_id"], *person.pets) == [0, 0, 0, 0]
    assert all(not rows for rows in cache._Cache__obj_dict.values())
    assert idle(relayed_pool) == []
    # ...while the server committed all of it, once
    assert counts(tables) == [1, 1, 2]
    (owner_id, _, _), = tables("persons")
    assert [row[1:] for row in tables("pets")] == [("rex", owner_id), ("tom", owner_id)]
    # the pool goes on with a new connection; a blind retry stores the graph again, up to the
    # unique pet names, where it fails and leaves the first copy alone
    with pytest.raises(mysql.connector.IntegrityError):
        person.Insert(pool=relayed_pool)
    assert counts(tables) == [1, 1, 2] and ids(person, *person.pets) == [0, 0, 0]


def test_lost_commit_reply_of_a_caller_held_transaction_and_of_update(tables, proxy, pools, relayed, db):
    relayed_pool = pools(**relayed)
    home = Home(0, "h1")
    home.Insert(pool=relayed_pool)
    home_id = home["id"]
    proxy.drop_commits(1)
    second = Home(0, "h2")
    with pytest.raises(mysql.connector.Error):
        with CNXGuard(None, relayed_pool) as cnx:
            second.Insert(cnx=cnx)
            home["name"] = "renamed"
            home.Update(cnx=cnx)
    assert proxy.wait_dropped(1)
    rows = tables("homes")
    second_id = rows[1][0]
    assert rows == [(home_id, "renamed"), (second_id, "h2")]
    assert second["id"] == second_id  # the caller's transaction: the calls inside put nothing back
    # a write after the loss needs a new connection: the pool lends one, and it works
    proxy.drop_commits(1)
    with pytest.raises(mysql.connector.Error):
        home.Update(pool=relayed_pool)  # one statement: committed by the guard, reply lost
    assert proxy.wait_dropped(2) and home["id"] == home_id
    assert db.query("SELECT COUNT(*) FROM homes") == [(2,)]
    assert proxy.dropped == 2 and idle(relayed_pool) == []


def test_guide_recipe_stores_once_when_the_commit_reply_is_lost(db, proxy, relayed):
    db.run("CREATE TABLE customers (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40),"
           " email VARCHAR(80) UNIQUE)")
    proxy.drop_commits(1)
    names = run_document(GUIDE, relayed)
    assert proxy.dropped == 1
    assert db.query("SELECT name, email FROM customers") == [("Ann", "ann@example.com")]
    assert names["ann"]["id"] == db.query("SELECT id FROM customers")[0][0]
