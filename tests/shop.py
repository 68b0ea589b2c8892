"""A music shop's schema as real applications have it: nullable foreign keys, a key to its own table (an
employee's manager), a three-level chain customers -> invoices -> invoice lines."""
from decimal import Decimal

from brx_sql import CNXGuard, MultiForeignAttr, TableBase
from tables import ID, key


class Genre(TableBase):
    TABLE_NAME = "genres"
    COLUMN_NAMES = ["id", "name"]
    COLUMN_ATTRIBUTES = ID


class Artist(TableBase):
    TABLE_NAME = "artists"
    COLUMN_NAMES = ["id", "name"]
    COLUMN_ATTRIBUTES = ID


class Album(TableBase):
    TABLE_NAME = "albums"
    COLUMN_NAMES = ["id", "title", "artist_id"]
    COLUMN_ATTRIBUTES = dict(ID, artist_id=key("artist_id", "artists", Artist))


class Track(TableBase):
    TABLE_NAME = "tracks"
    COLUMN_NAMES = ["id", "name", "album_id", "genre_id", "price"]
    COLUMN_ATTRIBUTES = dict(ID, album_id=key("album_id", "albums", Album),
                             genre_id=key("genre_id", "genres", Genre))


class Employee(TableBase):
    TABLE_NAME = "employees"
    COLUMN_NAMES = ["id", "name", "reports_to"]


Employee.COLUMN_ATTRIBUTES = dict(ID, reports_to=key("reports_to", "employees", Employee))
Employee.MULTI_FOREIGN_ATTR = {"reports": MultiForeignAttr("reports", "reports_to", "employees", Employee)}


class Customer(TableBase):
    TABLE_NAME = "customers"
    COLUMN_NAMES = ["id", "name", "support_rep_id"]
    COLUMN_ATTRIBUTES = dict(ID, support_rep_id=key("support_rep_id", "employees", Employee))


class Invoice(TableBase):
    TABLE_NAME = "invoices"
    COLUMN_NAMES = ["id", "customer_id", "total"]
    COLUMN_ATTRIBUTES = dict(ID, customer_id=key("customer_id", "customers", Customer))


class InvoiceLine(TableBase):
    TABLE_NAME = "invoice_lines"
    COLUMN_NAMES = ["id", "invoice_id", "track_id", "quantity"]
    COLUMN_ATTRIBUTES = dict(ID, invoice_id=key("invoice_id", "invoices", Invoice),
                             track_id=key("track_id", "tracks", Track))


Album.MULTI_FOREIGN_ATTR = {"tracks": MultiForeignAttr("tracks", "album_id", "tracks", Track)}
Artist.MULTI_FOREIGN_ATTR = {"albums": MultiForeignAttr("albums", "artist_id", "albums", Album)}
Customer.MULTI_FOREIGN_ATTR = {"invoices": MultiForeignAttr("invoices", "customer_id", "invoices", Invoice)}
Invoice.MULTI_FOREIGN_ATTR = {"lines": MultiForeignAttr("lines", "invoice_id", "invoice_lines", InvoiceLine)}

COLUMNS = {
    "genres": "name VARCHAR(40) NOT NULL",
    "artists": "name VARCHAR(80) NOT NULL",
    "albums": "title VARCHAR(120) NOT NULL, artist_id INT NOT NULL",
    "tracks": "name VARCHAR(120) NOT NULL, album_id INT NOT NULL, genre_id INT NULL, price DECIMAL(6,2) NOT NULL",
    "employees": "name VARCHAR(60) NOT NULL, reports_to INT NULL",
    "customers": "name VARCHAR(60) NOT NULL, support_rep_id INT NULL",
    "invoices": "customer_id INT NOT NULL, total DECIMAL(8,2) NOT NULL",
    "invoice_lines": "invoice_id INT NOT NULL, track_id INT NOT NULL, quantity INT NOT NULL",
}
KEYS = [("albums", "artist_id", "artists"), ("tracks", "album_id", "albums"), ("tracks", "genre_id", "genres"),
        ("employees", "reports_to", "employees"), ("customers", "support_rep_id", "employees"),
        ("invoices", "customer_id", "customers"), ("invoice_lines", "invoice_id", "invoices"),
        ("invoice_lines", "track_id", "tracks")]


def create(db, constraints="restrict"):
    """The shop's tables; `constraints` is "restrict", "cascade" or "none"."""
    for table, columns in COLUMNS.items():
        db.run("CREATE TABLE %s (id INT AUTO_INCREMENT PRIMARY KEY, %s) ENGINE=InnoDB" % (table, columns))
    if constraints == "none":
        return
    action = " ON DELETE CASCADE" if constraints == "cascade" else ""
    for table, column, target in KEYS:
        db.run("ALTER TABLE %s ADD FOREIGN KEY (%s) REFERENCES %s (id)%s" % (table, column, target, action))


def load(pool, artists=30, albums_each=3, tracks_each=12, employees=12, customers=60, invoices_each=4, lines_each=3):
    """About 3,000 rows through the module, one guard per artist and customer, keys given as stored rows, new
    rows and identifiers, some NULL. Returns the stored genres, employees and customers."""
    genres = [Genre(name=name) for name in ("Rock", "Jazz", "Blues", "Metal", "Latin", "Pop")]
    with CNXGuard(None, pool) as cnx:
        for genre in genres:
            genre.Insert(cnx)
        staff = []
        for number in range(employees):
            # a reporting line: each employee reports to the one two places up, the first to nobody
            manager = staff[(number - 1) // 2]["id"] if number else None
            staff.append(Employee(name="employee %d" % number, reports_to=manager))
            staff[-1].Insert(cnx)
    track_number = 0
    all_tracks = []
    for a in range(artists):
        with CNXGuard(None, pool) as cnx:
            artist = Artist(name="artist %d" % a)
            for b in range(albums_each):
                album = Album(title="album %d.%d" % (a, b), artist_id=artist)
                album.tracks = []
                for _ in range(tracks_each):
                    track_number += 1
                    genre = None if track_number % 7 == 0 else genres[track_number % len(genres)]
                    album.tracks.append(Track(name="track %d" % track_number, genre_id=genre,
                                              price=Decimal("0.99") + track_number % 3))
                album.Insert(cnx)  # the new artist first, then the album, then its tracks
                all_tracks += album.tracks
    people = []
    for c in range(customers):
        with CNXGuard(None, pool) as cnx:
            rep = None if c % 5 == 0 else staff[c % len(staff)]["id"]  # an identifier, or no one
            customer = Customer(name="customer %d" % c, support_rep_id=rep)
            customer.invoices = []
            for i in range(invoices_each):
                invoice = Invoice(total=Decimal(0))
                invoice.lines = [InvoiceLine(track_id=all_tracks[(c * 7 + i * 3 + n) % len(all_tracks)],
                                             quantity=1 + n) for n in range(lines_each)]
                invoice["total"] = sum(line["track_id"]["price"] * line["quantity"] for line in invoice.lines)
                customer.invoices.append(invoice)
            customer.Insert(cnx)
            people.append(customer)
    return genres, staff, people
