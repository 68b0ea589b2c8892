"""A music shop's schema as real applications have it: nullable foreign keys, a key to its own table (an
employee's manager), a three-level chain customers -> invoices -> invoice lines."""
from decimal import Decimal

from brx_sql import CNXGuard, MultiForeignAttr, TableBase
from tables import ID, key


# table: (class name, its columns after "id", its foreign keys as column -> table)
SCHEMA = {
    "genres": ("Genre", "name VARCHAR(40) NOT NULL", {}),
    "artists": ("Artist", "name VARCHAR(80) NOT NULL", {}),
    "albums": ("Album", "title VARCHAR(120) NOT NULL, artist_id INT NOT NULL", {"artist_id": "artists"}),
    "tracks": ("Track", "name VARCHAR(120) NOT NULL, album_id INT NOT NULL, genre_id INT NULL,"
                        " price DECIMAL(6,2) NOT NULL", {"album_id": "albums", "genre_id": "genres"}),
    "employees": ("Employee", "name VARCHAR(60) NOT NULL, reports_to INT NULL", {"reports_to": "employees"}),
    "customers": ("Customer", "name VARCHAR(60) NOT NULL, support_rep_id INT NULL", {"support_rep_id": "employees"}),
    "invoices": ("Invoice", "customer_id INT NOT NULL, total DECIMAL(8,2) NOT NULL", {"customer_id": "customers"}),
    "invoice_lines": ("InvoiceLine", "invoice_id INT NOT NULL, track_id INT NOT NULL, quantity INT NOT NULL",
                      {"invoice_id": "invoices", "track_id": "tracks"}),
}
CLASSES = {table: type(name, (TableBase,), {"TABLE_NAME": table, "COLUMN_NAMES": ["id"] + [
    column.split()[0] for column in columns.split(", ")]}) for table, (name, columns, _) in SCHEMA.items()}
for table, (_, _, keys) in SCHEMA.items():
    CLASSES[table].COLUMN_ATTRIBUTES = dict(ID, **{c: key(c, target, CLASSES[target]) for c, target in keys.items()})
# owner table, list attribute, the table of its rows and their key column
for owner, attr, table, column in [("albums", "tracks", "tracks", "album_id"),
                                   ("artists", "albums", "albums", "artist_id"),
                                   ("employees", "reports", "employees", "reports_to"),
                                   ("customers", "invoices", "invoices", "customer_id"),
                                   ("invoices", "lines", "invoice_lines", "invoice_id")]:
    CLASSES[owner].MULTI_FOREIGN_ATTR = {attr: MultiForeignAttr(attr, column, table, CLASSES[table])}
Genre, Artist, Album, Track, Employee, Customer, Invoice, InvoiceLine = CLASSES.values()


def create(db, constraints="restrict"):
    """The shop's tables; `constraints` is "restrict", "cascade" or "none"."""
    for table, (_, columns, _) in SCHEMA.items():
        db.run("CREATE TABLE %s (id INT AUTO_INCREMENT PRIMARY KEY, %s) ENGINE=InnoDB" % (table, columns))
    if constraints == "none":
        return
    action = " ON DELETE CASCADE" if constraints == "cascade" else ""
    for table, (_, _, keys) in SCHEMA.items():
        for column, target in keys.items():
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
