"""brx-sql-declare: the row classes of a database's tables, read from its schema.

    brx-sql-declare --host H --port P --user U --password W --database D [--unix-socket S] [TABLE ...]

prints Python source that declares one brx_sql.TableBase subclass per table (all tables, or those
named): COLUMN_NAMES in the table's order, "id" with the default 0, a ColumnAttribute for each
foreign key the schema declares, and a MultiForeignAttr on the referenced class for each of them.
Tables that break the table rules are listed in a comment, with the reason, and left out.
"""
from __future__ import annotations

import argparse
import keyword
import re
import sys
from collections.abc import Iterable, Sequence
from dataclasses import dataclass, field
from typing import Any, Optional

import mysql.connector

from brx_sql import TableBase

PROGRAM = "brx-sql-declare"
INTEGER_TYPES = {"tinyint", "smallint", "mediumint", "int", "integer", "bigint"}
IMPORTED = {"ColumnAttribute", "MultiForeignAttr", "TableBase"}
# Names a list attribute must not take: what every row class has (item read finds its settings
# and methods before any list) and the row's own column store.
ROW_CLASS_NAMES = set(dir(TableBase)) | {"_TableBase__column_values"}
LINE_WIDTH = 100


@dataclass
class ForeignKey:
    columns: list[str] = field(default_factory=list)
    target_schema: Optional[str] = None  # set when the referenced table is in another database
    target_table: str = ""
    target_columns: list[str] = field(default_factory=list)


@dataclass
class Table:
    name: str
    kind: str
    columns: list[str] = field(default_factory=list)  # the visible ones, in the table's order
    id_type: str = ""
    id_extra: str = ""
    first_column: str = ""
    primary_key: list[str] = field(default_factory=list)
    foreign_keys: dict[str, ForeignKey] = field(default_factory=dict)  # by constraint name


@dataclass
class Key:
    column: str
    target: "Declared"


@dataclass
class Declared:
    table: Table
    class_name: str
    keys: list[Key] = field(default_factory=list)
    notes: list[str] = field(default_factory=list)
    lists: list[tuple[str, Key, "Declared"]] = field(default_factory=list)  # name, key, child


def text(value: Any) -> str:
    """A name as information_schema gives it (some servers send bytes)."""
    return value.decode("utf-8") if isinstance(value, (bytes, bytearray)) else str(value)


def read_schema(cnx: Any) -> dict[str, Table]:
    """The tables of the connection's database, with their columns, primary keys and foreign keys."""
    def rows(statement: str, *params: str) -> list[tuple[Any, ...]]:
        cursor = cnx.cursor()
        cursor.execute(statement, params)
        return list(cursor.fetchall())

    database = text(rows("SELECT DATABASE()")[0][0])  # the name as the server writes it

    def of_database(statement: str) -> list[tuple[Any, ...]]:
        # information_schema compares names without regard to case: keep this database's rows only.
        return [row for row in rows(statement, database) if text(row[0]) == database]

    tables = {text(name): Table(text(name), text(kind)) for _, name, kind in of_database(
        "SELECT TABLE_SCHEMA, TABLE_NAME, TABLE_TYPE FROM information_schema.TABLES WHERE TABLE_SCHEMA = %s")}
    for _, name, column, _, data_type, extra in sorted(of_database(
            "SELECT TABLE_SCHEMA, TABLE_NAME, COLUMN_NAME, ORDINAL_POSITION, DATA_TYPE, EXTRA"
            " FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = %s"), key=lambda row: (text(row[1]), row[3])):
        table = tables.get(text(name))
        if table is None:
            continue
        if not table.first_column:
            table.first_column, table.id_type, table.id_extra = text(column), text(data_type), text(extra)
        if "INVISIBLE" not in text(extra).upper():  # SELECT * and INSERT ... VALUES leave them out
            table.columns.append(text(column))
    for _, name, constraint, column, _, target_schema, target_table, target_column in sorted(of_database(
            "SELECT TABLE_SCHEMA, TABLE_NAME, CONSTRAINT_NAME, COLUMN_NAME, ORDINAL_POSITION,"
            " REFERENCED_TABLE_SCHEMA, REFERENCED_TABLE_NAME, REFERENCED_COLUMN_NAME"
            " FROM information_schema.KEY_COLUMN_USAGE WHERE TABLE_SCHEMA = %s"),
            key=lambda row: (text(row[1]), text(row[2]), row[4])):
        table = tables.get(text(name))
        if table is None:
            continue
        if target_table is None:
            if text(constraint) == "PRIMARY":
                table.primary_key.append(text(column))
            continue
        key = table.foreign_keys.setdefault(text(constraint), ForeignKey())
        key.columns.append(text(column))
        key.target_table = text(target_table)
        if text(target_schema) != database:
            key.target_schema = text(target_schema)
        key.target_columns.append(text(target_column))
    return tables


def shown(name: str) -> str:
    """A name as a comment may show it: as it is, or quoted when it holds a line break or the like."""
    return name if name.isprintable() else repr(name)


def joined(names: Iterable[str]) -> str:
    return ", ".join(shown(name) for name in names)


def unmappable(table: Table) -> Optional[str]:
    """Why row objects cannot work on `table`, or None when they can."""
    if table.kind not in ("BASE TABLE", "SYSTEM VERSIONED"):
        return "a view" if table.kind == "VIEW" else table.kind.lower()
    if len(table.primary_key) > 1:
        return "composite primary key (%s)" % joined(table.primary_key)
    if table.first_column != "id":
        return "first column is %s, not id" % shown(table.first_column)
    if not table.primary_key:
        return "no primary key"
    if table.primary_key != ["id"]:
        return "primary key is %s, not id" % shown(table.primary_key[0])
    if table.id_type.lower() not in INTEGER_TYPES:
        return "id is %s, not an integer" % shown(table.id_type)
    if "auto_increment" not in table.id_extra.lower():
        return "id is not AUTO_INCREMENT"
    return None


def class_name(table: str, taken: set[str]) -> str:
    """The table's name in CamelCase, made a free Python identifier."""
    name = "".join(part[:1].upper() + part[1:] for part in re.split(r"[\W_]+", table) if part)
    if not name.isidentifier():
        name = "Table" + name
    if not name.isidentifier():
        name = "Table"
    if keyword.iskeyword(name) or name in IMPORTED:
        name += "Table"
    return unique(name, taken, "")


def unique(name: str, taken: set[str], separator: str = "_") -> str:
    """`name`, or it numbered from 2 on, whichever is not taken yet; then taken."""
    found, number = name, 1
    while found in taken:
        number += 1
        found = "%s%s%d" % (name, separator, number)
    taken.add(found)
    return found


def literal(value: str) -> str:
    """A str literal for the source, in double quotes where that needs no escape."""
    quoted = repr(value)
    return '"%s"' % quoted[1:-1] if quoted[0] == "'" and '"' not in value else quoted


def find_keys(declared: dict[str, Declared]) -> None:
    """Each table's foreign keys that row objects can follow; notes for the others."""
    for child in declared.values():
        keyed: set[str] = set()
        foreign_keys = child.table.foreign_keys.values()
        for key in sorted(foreign_keys, key=lambda key: child.table.columns.index(key.columns[0])
                          if key.columns[0] in child.table.columns else len(child.table.columns)):
            column, target = key.columns[0], shown(key.target_table)
            if len(key.columns) > 1:
                reason = "(%s): a key of several columns, to %s" % (joined(key.columns), target)
            elif key.target_schema is not None:
                reason = "%s: a key to %s.%s, another database" % (shown(column), shown(key.target_schema), target)
            elif key.target_columns != ["id"]:
                reason = "%s: a key to %s.%s, not to its id" % (shown(column), target, shown(key.target_columns[0]))
            elif column == "id":
                reason = "id: a key to %s, on the row's own identifier" % target
            elif column not in child.table.columns:
                reason = "%s: a key to %s, on an invisible column" % (shown(column), target)
            elif key.target_table not in declared:
                reason = "%s: a key to %s, which is not declared here" % (shown(column), target)
            elif column in keyed:
                reason = "%s: a second key, to %s" % (shown(column), target)
            else:
                keyed.add(column)
                child.keys.append(Key(column, declared[key.target_table]))
                continue
            child.notes.append(reason)


def order_classes(declared: dict[str, Declared]) -> list[Declared]:
    """Referenced classes before the classes that refer to them, where cycles allow."""
    ordered: list[Declared] = []
    left = sorted(declared.values(), key=lambda item: item.table.name)
    while left:
        ready = next((item for item in left if all(
            key.target is item or key.target in ordered for key in item.keys)), left[0])
        ordered.append(ready)
        left.remove(ready)
    return ordered


def name_lists(ordered: list[Declared]) -> None:
    """One list on the referenced class for each key: named after the child table, and after the
    key's column too where that name is taken (a second key from the same table)."""
    for child in sorted(ordered, key=lambda item: item.table.name):
        for key in child.keys:
            key.target.lists.append(("", key, child))
    for parent in ordered:
        taken = set(parent.table.columns) | ROW_CLASS_NAMES
        named = []
        for _, key, child in parent.lists:
            name = child.table.name
            if name in taken:
                name = unique("%s_by_%s" % (name, key.column), taken)
            taken.add(name)
            named.append((name, key, child))
        parent.lists = named


def wrapped(head: str, items: list[str], tail: str, indent: str = "") -> list[str]:
    """head, the items joined by ", ", tail: on one line, or where too long with the items on lines
    of their own between the head and the tail."""
    line = head + ", ".join(items) + tail
    if len(line) <= LINE_WIDTH:
        return [line]
    lines, current = [head], indent + "    "
    for item in items:
        if len(current) + len(item) + 1 > LINE_WIDTH and current.strip():
            lines.append(current.rstrip())
            current = indent + "    "
        current += item + ", "
    return lines + [current.rstrip(), indent + tail]


def attribute(head: str, key: Key, tail: str, indent: str = "") -> list[str]:
    """A ColumnAttribute for the key, between head and tail."""
    items = [literal(key.column), "None", "True", literal(key.target.table.name), key.target.class_name]
    return wrapped(head + "ColumnAttribute(", items, ")" + tail, indent)


def class_source(item: Declared, earlier: list[Declared]) -> list[str]:
    lines = ["class %s(TableBase):" % item.class_name,
             "    TABLE_NAME = %s" % literal(item.table.name)]
    lines += wrapped("    COLUMN_NAMES = [", [literal(name) for name in item.table.columns], "]", "    ")
    inside = [key for key in item.keys if key.target in earlier]
    if inside:
        lines.append("    COLUMN_ATTRIBUTES = {")
        lines.append('        "id": ColumnAttribute("id", 0),')
        for key in inside:
            lines += attribute("        %s: " % literal(key.column), key, ",", "        ")
        lines.append("    }")
    else:
        lines.append('    COLUMN_ATTRIBUTES = {"id": ColumnAttribute("id", 0)}')
    if item.notes:
        lines.append("    # Plain columns, though the schema has a foreign key on them:")
        lines += ["    #   %s" % note for note in item.notes]
    for name, _, child in item.lists:  # for type checkers: the list attributes
        if name.isidentifier() and not keyword.iskeyword(name) and not name.startswith("__"):
            lines.append('    %s: "list[%s]"' % (name, child.class_name))
    return lines


def declarations(tables: dict[str, Table], names: Sequence[str] = ()) -> str:
    """The source declaring the tables `names` (all when empty) of `tables`."""
    chosen = [tables[name] for name in dict.fromkeys(names)] if names else sorted(
        tables.values(), key=lambda table: table.name)
    skipped = [(table.name, reason) for table in chosen for reason in [unmappable(table)] if reason]
    taken: set[str] = set()
    declared = {table.name: Declared(table, class_name(table.name, taken))
                for table in chosen if unmappable(table) is None}
    find_keys(declared)
    ordered = order_classes(declared)
    name_lists(ordered)

    out = ["# Row classes written by %s from the database's schema." % PROGRAM]
    used = ["ColumnAttribute", "MultiForeignAttr", "TableBase"] if any(item.lists for item in ordered) else [
        "ColumnAttribute", "TableBase"]
    if ordered:
        out.append("from brx_sql import %s" % ", ".join(used))
    if skipped:
        out += ["", "# Not declared: the table rules ask for an integer AUTO_INCREMENT primary key id,"
                    " first column."]
        out += ["#   %s: %s" % (shown(name), reason) for name, reason in skipped]
    for number, item in enumerate(ordered):
        out += ["", ""] + class_source(item, ordered[:number])
    late = [(item, key) for item in ordered for key in item.keys
            if ordered.index(key.target) >= ordered.index(item)]
    if late:
        out += ["", "", "# Keys to the own table, and keys that close a cycle of tables: once both classes exist."]
        for item, key in late:
            out += attribute("%s.COLUMN_ATTRIBUTES[%s] = " % (item.class_name, literal(key.column)), key, "")
    owners = [item for item in ordered if item.lists]
    if owners:
        out += ["", "", "# A list for each foreign key. Delete removes the rows of a row's lists before the row,",
                "# and a deep FillForeign walks into them: keep the lists of rows that belong to their",
                "# row (an order's lines), drop those of lookup tables (a country's customers)."]
    for item in owners:
        out.append("%s.MULTI_FOREIGN_ATTR = {" % item.class_name)
        for name, key, child in item.lists:
            items = [literal(name), literal(key.column), literal(child.table.name), child.class_name]
            out += wrapped("    %s: MultiForeignAttr(" % literal(name), items, "),", "    ")
        out.append("}")
    if not chosen:
        out.append("# The database has no tables.")
    return "\n".join(out) + "\n"


def arguments(argv: Optional[Sequence[str]]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog=PROGRAM, description="Prints the brx_sql row classes of a database's tables, read from its schema.")
    parser.add_argument("--host", help="the server's host name or address")
    parser.add_argument("--port", type=int, help="the server's TCP port")
    parser.add_argument("--unix-socket", help="the server's Unix socket, instead of host and port")
    parser.add_argument("--user", help="the user name")
    parser.add_argument("--password", help="the user's password")
    parser.add_argument("--database", required=True, help="the database whose tables to declare")
    parser.add_argument("tables", nargs="*", metavar="TABLE", help="tables to declare (default: all)")
    return parser.parse_args(argv)


def main(argv: Optional[Sequence[str]] = None) -> int:
    options = arguments(argv)
    settings = {name: value for name, value in vars(options).items()
                if name not in ("tables", "database") and value is not None}
    try:
        cnx = mysql.connector.connect(database=options.database, **settings)
        try:
            tables = read_schema(cnx)
        finally:
            cnx.close()
    except mysql.connector.Error as error:
        print("%s: %s" % (PROGRAM, error), file=sys.stderr)
        return 1
    missing = [name for name in options.tables if name not in tables]
    if missing:
        print("%s: the database %s has no table %s" % (PROGRAM, shown(options.database), joined(missing)),
              file=sys.stderr)
        return 1
    sys.stdout.write(declarations(tables, options.tables))
    return 0


if __name__ == "__main__":
    sys.exit(main())
