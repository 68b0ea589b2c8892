"""Row graphs on a real application's schema (tests/shop.py) against the real server: nullable keys, a key
to the own table, a three-level chain with and without constraints, identifiers as keys, caches."""
import mysql.connector
import pytest

from brx_sql import Cache, CNXGuard
from shop import Album, Artist, Customer, Employee, Genre, Invoice, InvoiceLine, Track, create, load
from tables import texts


@pytest.fixture(params=["restrict", "cascade", "none"])
def shop(request, db):
    create(db, request.param)
    return request.param


@pytest.fixture
def small_shop(db):
    create(db, "restrict")


def count(db, table, where="1"):
    return db.query("SELECT COUNT(*) FROM %s WHERE %s" % (table, where))[0][0]


def seed(db):
    """A small shop written with plain SQL (explicit ids: a cluster steps AUTO_INCREMENT): customer 1 with
    invoices 1-3, each with two lines."""
    for table, rows in [("genres", "(1, 'Rock')"), ("artists", "(1, 'x')"), ("albums", "(1, 'a', 1)"),
                        ("tracks", "(1, 't1', 1, 1, 1), (2, 't2', 1, 1, 2)"), ("employees", "(1, 'boss', NULL)"),
                        ("customers", "(1, 'c', 1)"), ("invoices", "(1, 1, 3), (2, 1, 3), (3, 1, 3)"),
                        ("invoice_lines", "(1, 1, 1, 1), (2, 1, 2, 1), (3, 2, 1, 1), (4, 2, 2, 1), (5, 3, 1, 1),"
                                          " (6, 3, 2, 1)")]:
        db.run("INSERT INTO %s VALUES %s" % (table, rows))


def test_a_shop_loaded_filled_updated_and_deleted_agrees_with_sql(shop, pool, db):
    genres, staff, people = load(pool)
    assert [count(db, t) for t in ("genres", "artists", "albums", "tracks", "employees", "customers", "invoices",
                                   "invoice_lines")] == [6, 30, 90, 1080, 12, 60, 240, 720]
    assert (count(db, "tracks", "genre_id IS NULL"), count(db, "customers", "support_rep_id IS NULL")) == (154, 12)
    assert db.query("SELECT name FROM employees WHERE reports_to IS NULL") == [("employee 0",)]
    assert db.query("SELECT COUNT(*) FROM invoices i JOIN customers c ON c.id = i.customer_id")[0][0] == 240
    # totals the module computed from the row objects agree with the database's own join
    assert db.query("SELECT COUNT(*) FROM invoices i WHERE total <> (SELECT SUM(t.price * l.quantity) FROM"
                    " invoice_lines l JOIN tracks t ON t.id = l.track_id WHERE l.invoice_id = i.id)") == [(0,)]

    # A deep fill from one customer reaches every row of its chain and stops at the NULL keys.
    customer = CNXGuard.Select(people[5]["id"], "customers", Customer, pool=pool)
    customer.FillForeign(pool=pool)
    assert customer["support_rep_id"] is None
    lines = [line for invoice in customer.invoices for line in invoice.lines]
    assert len(lines) == 12 and all(line["invoice_id"]["id"] == invoice["id"]
                                    for invoice in customer.invoices for line in invoice.lines)
    assert all(line["track_id"]["album_id"]["artist_id"]["name"].startswith("artist") for line in lines)
    assert all(line["track_id"]["genre_id"] is None or line["track_id"]["genre_id"]["name"] for line in lines)
    # the reporting line, read from the bottom up to the top, and from the top down to everyone
    bottom = CNXGuard.Select(staff[-1]["id"], "employees", Employee, pool=pool)
    bottom.FillForeign(pool=pool)
    chain, row = [], bottom
    while row is not None:
        chain.append(row["name"])
        row = row["reports_to"]
    assert chain == ["employee 11", "employee 5", "employee 2", "employee 0"]
    top = CNXGuard.Select(staff[0]["id"], "employees", Employee, pool=pool)
    top.FillForeign(pool=pool)
    reached, todo = [], [top]
    while todo:
        row = todo.pop()
        reached.append(row["name"])
        todo += row.reports
    assert sorted(reached) == sorted(e["name"] for e in staff)

    # Update of the customer's loaded graph: an invoice dropped (its lines go with it first), a line
    # changed, a line added, everything else kept under its own identifier.
    invoices = customer.invoices
    kept_ids = [invoice["id"] for invoice in invoices[1:]]
    line_ids = [[line["id"] for line in invoice.lines] for invoice in invoices]
    dropped = invoices.pop(0)
    for line in dropped.lines:
        line.Delete(pool=pool)
    invoices[0].lines[0]["quantity"] = 99
    invoices[0].lines.append(InvoiceLine(track_id=lines[0]["track_id"], quantity=1))
    customer["name"] = "renamed"
    customer["support_rep_id"] = staff[3]
    customer.Update(pool=pool)
    for invoice in invoices:
        invoice.Update(pool=pool)
    assert db.query("SELECT name, support_rep_id FROM customers WHERE id = %s", (customer["id"],)) == [
        ("renamed", staff[3]["id"])]
    assert [row[0] for row in db.query("SELECT id FROM invoices WHERE customer_id = %s ORDER BY id",
                                       (customer["id"],))] == kept_ids
    assert [r[0] for r in db.query("SELECT id FROM invoice_lines WHERE invoice_id = %s ORDER BY id",
                                   (invoices[0]["id"],))] == line_ids[1] + [invoices[0].lines[-1]["id"]]
    assert db.query("SELECT quantity FROM invoice_lines WHERE id = %s", (line_ids[1][0],)) == [(99,)]
    assert count(db, "invoice_lines") == 720 - 3 + 1 and count(db, "invoices") == 239

    # Delete of an album removes its tracks' rows first; with a restricting key a track still on
    # an invoice line keeps both, and the failed delete leaves everything as it was.
    first = db.query("SELECT MIN(id) FROM albums")[0][0]
    album = CNXGuard.Select(first, "albums", Album, pool=pool)
    on_invoice = count(db, "invoice_lines l JOIN tracks t ON t.id = l.track_id", "t.album_id = %d" % first)
    if shop == "restrict" and on_invoice:
        with pytest.raises(mysql.connector.IntegrityError):
            album.Delete(pool=pool)
        assert count(db, "tracks", "album_id = %d" % first) == 12
    else:
        album.Delete(pool=pool)
        assert count(db, "tracks", "album_id = %d" % first) == 0 and count(db, "albums", "id = %d" % first) == 0


def test_null_keys_are_written_read_and_skipped_as_null(small_shop, pool, db, recorder):
    artist, rec = Artist(name="new", albums=[Album(title="a")]), recorder(pool)
    with pytest.raises(ValueError, match=r"not stored yet \(id = 0\): Insert it first"):
        artist.Update(pool=rec)  # refused before any statement
    assert rec.log == [] and count(db, "albums") == 0 and artist.albums[0]["id"] == 0
    rock = Genre(name="Rock")
    track = Track(name="intro", album_id=Album(title="a", artist_id=Artist(name="x")), genre_id=None, price=1)
    track.Insert(pool=pool)
    assert db.query("SELECT genre_id FROM tracks") == [(None,)] and track["genre_id"] is None
    track["genre_id"] = rock  # a new referenced row is stored first, then written by its id
    track.Update(pool=pool)
    assert rock["id"] > 0 and db.query("SELECT genre_id FROM tracks") == [(rock["id"],)]
    track["genre_id"] = None
    track.Update(pool=pool)
    assert db.query("SELECT genre_id FROM tracks") == [(None,)]
    read = CNXGuard.Select(track["id"], "tracks", Track, pool=pool)
    read.FillForeign(pool=pool)  # deep: follows the album, not the NULL genre
    assert read["genre_id"] is None and read["album_id"]["artist_id"]["name"] == "x"


def test_identifiers_given_as_keys_are_found_inside_the_callers_transaction(small_shop, pool, db, recorder):
    rec = recorder(pool)
    with CNXGuard(None, rec) as cnx:
        artist = Artist(name="x")
        artist.Insert(cnx)
        album = Album(title="a", artist_id=artist["id"])  # only an identifier, not committed yet
        album.Insert(cnx)
        Track(name="t", album_id=album["id"], genre_id=Genre(name="g"), price=1).Insert(cnx)
    assert album["artist_id"] is not artist and album["artist_id"]["name"] == "x"  # looked up, kept
    assert rec.calls("get", "commit", "rollback", "put") == [("get",), ("commit",), ("put",)]
    assert "SELECT * FROM `artists` WHERE id = %d" % artist["id"] in texts(rec)
    assert db.query("SELECT title, artist_id FROM albums") == [("a", artist["id"])]
    # an identifier of no row fails and rolls the whole block back
    with pytest.raises(KeyError, match="Table artists has no row with id = 999"):
        with CNXGuard(None, pool) as cnx:
            Artist(name="kept?").Insert(cnx)
            Album(title="orphan", artist_id=999).Insert(cnx)
    assert count(db, "artists") == 1 and count(db, "albums") == 1


def test_no_cache_entry_outlives_a_row_the_module_deleted(small_shop, pool, db, recorder):
    seed(db)
    Invoice.CACHE = InvoiceLine.CACHE = cache = Cache(pool)
    cache.Cache("invoices", Invoice)
    cache.Cache("invoice_lines", InvoiceLine)
    customer = CNXGuard.Select(1, "customers", Customer, pool=pool)
    customer.FillForeign(False, pool=pool)
    gone = customer.invoices.pop()
    gone.FillForeign(False, pool=pool)
    for line in gone.lines:  # its lines first: the key from lines to invoices restricts
        line.Delete(pool=pool)
    rec = recorder(pool)
    customer.Update(pool=rec)  # removes the invoice no longer held
    assert sorted(cache.CachedTable("invoices")) == [1, 2]
    assert [text for text in texts(rec) if text.startswith("SELECT id")] == [
        "SELECT id FROM `invoices` WHERE `customer_id` = 1 AND id NOT IN (1, 2)"]
    first = customer.invoices[0]
    first.Delete(pool=pool)  # its lines go first, and leave the cache with it
    assert sorted(cache.CachedTable("invoices")) == [2] and sorted(cache.CachedTable("invoice_lines")) == [3, 4]
    assert [row[0] for row in db.query("SELECT id FROM invoice_lines ORDER BY id")] == [3, 4]
