"""Statements: single rows by identifier, table maintenance, free-form statements."""
import brx_sql
from brx_sql import CNXGuard, CNXPool


class Book:
    """Any callable taking the columns in table order will do as a row class here."""

    def __init__(self, id: int, title: str, year: int) -> None:
        self.id, self.title, self.year = id, title, year

    def __repr__(self) -> str:
        return "Book(%d, %r, %d)" % (self.id, self.title, self.year)


def demo_statements(pool: CNXPool) -> None:
    brx_sql.Execute("DROP TABLE IF EXISTS app_books", pool=pool)
    brx_sql.Execute("CREATE TABLE app_books (id INT AUTO_INCREMENT PRIMARY KEY,"
                    " title VARCHAR(80) NOT NULL, year INT NOT NULL) ENGINE=InnoDB", pool=pool)

    # Insert takes the values in the table's column order, as a sequence or a dict.
    first = CNXGuard.Insert("app_books", ["id", "title", "year"], [None, "Dune", 1965], pool=pool)
    second = CNXGuard.Insert("app_books", ["id", "title", "year"],
                             {"title": "Solaris", "year": 1961, "id": None}, pool=pool)
    print("inserted ids:", first, second)
    print("selected:", CNXGuard.Select(second, "app_books", Book, pool=pool))

    CNXGuard.Delete(first, "app_books", pool=pool)
    try:
        CNXGuard.Select(first, "app_books", Book, pool=pool)
    except KeyError as error:
        print("after Delete:", error)

    print("tables:", [name for name in brx_sql.GetTableNames(pool=pool) if name.startswith("app_")])
    print("schema:", brx_sql.GetCreateTableStatement("app_books", pool=pool))

    # Free-form statements: rows for queries, the new id for inserts, None otherwise.
    print("query:", brx_sql.Execute("SELECT title, year FROM app_books ORDER BY id", pool=pool))
    print("insert:", brx_sql.Execute("INSERT INTO app_books (title, year) VALUES ('Ubik', 1969)", pool=pool))
    print("update:", brx_sql.Execute("UPDATE app_books SET year = year + 0", pool=pool))

    # Several operations on one borrowed connection: pass it on as cnx. (The server commits
    # an ALTER TABLE, and the work before it, at once; other statements wait for the block's end.)
    with CNXGuard(None, pool) as cnx:
        CNXGuard.ClearTable("app_books", cnx)
        CNXGuard.AlterAutoIncrement("app_books", 1, cnx)
    print("after ClearTable:", brx_sql.Execute("SELECT COUNT(*) FROM app_books", pool=pool))
    print("next id after AlterAutoIncrement:",
          CNXGuard.Insert("app_books", ["id", "title", "year"], (None, "Roadside Picnic", 1972), pool=pool))
