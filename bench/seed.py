"""Workload 7: seeding. 200,000 new rows over 4 tables with keys between them (users; forums owned by
users; threads in forums, started by users; posts in threads, by users, replies pointing at their
thread's opening post), stored in one transaction, from plain tuples to committed rows.

Systems: the connector's `executemany` (no ids come back: each chunk's ids are taken as consecutive
from its `lastrowid`, which a Galera cluster or auto_increment_increment would break), brx_sql
(`InsertMany` of every row object), peewee (`insert_many(...).returning(id)` in chunks inside
`atomic()`), SQLAlchemy 2 (`session.add_all` + flush, insertmanyvalues), and the one-INSERT-per-row
recipe (`Insert(cnx)` per row, one guard per 100 rows). Chunks of 500 rows, as `InsertMany`'s
statements. Round trips of one seeding as the server counts them.

    python bench/seed.py [--quick]     (on its own; bench/run.py runs it with the other workloads)"""
import sys

import peewee
import sqlalchemy
from sqlalchemy import orm

import brx_sql
from brx_sql import CNXGuard, ColumnAttribute, InsertMany
from common import Figure, progress, timed

REPEATS = 5
CHUNK = 500
USERS, FORUMS, THREADS = 10_000, 200, 20_000
TOTAL = 200_000
REPLIES = TOTAL - USERS - FORUMS - 2 * THREADS  # every thread has one opening post
TABLES = ("posts", "threads", "forums", "users")
DDL = [
    "CREATE TABLE users (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40) NOT NULL, email VARCHAR(60) NOT NULL)",
    "CREATE TABLE forums (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40) NOT NULL, owner_id INT NOT NULL,"
    " FOREIGN KEY (owner_id) REFERENCES users (id))",
    "CREATE TABLE threads (id INT AUTO_INCREMENT PRIMARY KEY, forum_id INT NOT NULL, user_id INT NOT NULL,"
    " title VARCHAR(80) NOT NULL, FOREIGN KEY (forum_id) REFERENCES forums (id),"
    " FOREIGN KEY (user_id) REFERENCES users (id))",
    "CREATE TABLE posts (id INT AUTO_INCREMENT PRIMARY KEY, thread_id INT NOT NULL, user_id INT NOT NULL,"
    " reply_to INT NULL, body VARCHAR(200) NOT NULL, FOREIGN KEY (thread_id) REFERENCES threads (id),"
    " FOREIGN KEY (user_id) REFERENCES users (id), FOREIGN KEY (reply_to) REFERENCES posts (id))",
]
# What one seeding stored, whoever stored it: counts and a checksum over every key followed.
CHECK = ("SELECT COUNT(*), SUM(CRC32(CONCAT(p.body, t.title, f.name, fu.email, tu.name, pu.name,"
         " COALESCE(o.body, '-')))) FROM posts p JOIN threads t ON t.id = p.thread_id"
         " JOIN forums f ON f.id = t.forum_id JOIN users fu ON fu.id = f.owner_id"
         " JOIN users tu ON tu.id = t.user_id JOIN users pu ON pu.id = p.user_id"
         " LEFT JOIN posts o ON o.id = p.reply_to")


def data():
    """Plain tuples, keys as positions in the referenced list: users (name, email), forums (name,
    owner), threads (forum, user, title), posts (thread, user, opening post or None, body); the
    first THREADS posts open their threads, the rest reply to them."""
    users = [("user %d" % i, "user%d@example.com" % i) for i in range(USERS)]
    forums = [("forum %d" % i, (i * 37) % USERS) for i in range(FORUMS)]
    threads = [((i * 7) % FORUMS, (i * 13) % USERS, "thread %d about something" % i) for i in range(THREADS)]
    posts = [(t, threads[t][1], None, "post opening thread %d, with a few words to read" % t) for t in range(THREADS)]
    posts += [((k * 31) % THREADS, (k * 17) % USERS, (k * 31) % THREADS,
               "reply %d: a line or two of text, as replies in a forum have" % k) for k in range(REPLIES)]
    return users, forums, threads, posts


def chunks(rows):
    return (rows[k:k + CHUNK] for k in range(0, len(rows), CHUNK))


# brx_sql
def key(column, table, cls):
    return ColumnAttribute(column, None, True, table, cls)


ID = {"id": ColumnAttribute("id", 0)}


class User(brx_sql.TableBase):
    TABLE_NAME = "users"
    COLUMN_NAMES = ["id", "name", "email"]
    COLUMN_ATTRIBUTES = ID


class Forum(brx_sql.TableBase):
    TABLE_NAME = "forums"
    COLUMN_NAMES = ["id", "name", "owner_id"]
    COLUMN_ATTRIBUTES = dict(ID, owner_id=key("owner_id", "users", User))


class Thread(brx_sql.TableBase):
    TABLE_NAME = "threads"
    COLUMN_NAMES = ["id", "forum_id", "user_id", "title"]
    COLUMN_ATTRIBUTES = dict(ID, forum_id=key("forum_id", "forums", Forum), user_id=key("user_id", "users", User))


class Post(brx_sql.TableBase):
    TABLE_NAME = "posts"
    COLUMN_NAMES = ["id", "thread_id", "user_id", "reply_to", "body"]


Post.COLUMN_ATTRIBUTES = dict(ID, thread_id=key("thread_id", "threads", Thread), user_id=key("user_id", "users", User),
                              reply_to=key("reply_to", "posts", Post))


def row_objects(seed):
    users, forums, threads, posts = seed
    user_rows = [User(0, name, email) for name, email in users]
    forum_rows = [Forum(0, name, user_rows[owner]) for name, owner in forums]
    thread_rows = [Thread(0, forum_rows[forum], user_rows[user], title) for forum, user, title in threads]
    post_rows = []
    for thread, user, opening, body in posts:
        post_rows.append(Post(0, thread_rows[thread], user_rows[user], None if opening is None else post_rows[opening], body))
    return user_rows + forum_rows + thread_rows + post_rows


# peewee
proxy = peewee.DatabaseProxy()


class PModel(peewee.Model):
    class Meta:
        database = proxy


class PUser(PModel):
    name = peewee.CharField(max_length=40)
    email = peewee.CharField(max_length=60)

    class Meta:
        table_name = "users"


class PForum(PModel):
    name = peewee.CharField(max_length=40)
    owner = peewee.ForeignKeyField(PUser, column_name="owner_id")

    class Meta:
        table_name = "forums"


class PThread(PModel):
    forum = peewee.ForeignKeyField(PForum, column_name="forum_id")
    user = peewee.ForeignKeyField(PUser, column_name="user_id")
    title = peewee.CharField(max_length=80)

    class Meta:
        table_name = "threads"


class PPost(PModel):
    thread = peewee.ForeignKeyField(PThread, column_name="thread_id")
    user = peewee.ForeignKeyField(PUser, column_name="user_id")
    reply_to = peewee.ForeignKeyField("self", column_name="reply_to", null=True)
    body = peewee.CharField(max_length=200)

    class Meta:
        table_name = "posts"


# SQLAlchemy 2 ORM
class Base(orm.DeclarativeBase):
    pass


class SUser(Base):
    __tablename__ = "users"
    id: orm.Mapped[int] = orm.mapped_column(primary_key=True)
    name: orm.Mapped[str] = orm.mapped_column(sqlalchemy.String(40))
    email: orm.Mapped[str] = orm.mapped_column(sqlalchemy.String(60))


class SForum(Base):
    __tablename__ = "forums"
    id: orm.Mapped[int] = orm.mapped_column(primary_key=True)
    name: orm.Mapped[str] = orm.mapped_column(sqlalchemy.String(40))
    owner_id: orm.Mapped[int] = orm.mapped_column(sqlalchemy.ForeignKey("users.id"))
    owner: orm.Mapped[SUser] = orm.relationship()


class SThread(Base):
    __tablename__ = "threads"
    id: orm.Mapped[int] = orm.mapped_column(primary_key=True)
    forum_id: orm.Mapped[int] = orm.mapped_column(sqlalchemy.ForeignKey("forums.id"))
    user_id: orm.Mapped[int] = orm.mapped_column(sqlalchemy.ForeignKey("users.id"))
    title: orm.Mapped[str] = orm.mapped_column(sqlalchemy.String(80))
    forum: orm.Mapped[SForum] = orm.relationship()
    user: orm.Mapped[SUser] = orm.relationship()


class SPost(Base):
    __tablename__ = "posts"
    id: orm.Mapped[int] = orm.mapped_column(primary_key=True)
    thread_id: orm.Mapped[int] = orm.mapped_column(sqlalchemy.ForeignKey("threads.id"))
    user_id: orm.Mapped[int] = orm.mapped_column(sqlalchemy.ForeignKey("users.id"))
    reply_to: orm.Mapped[int | None] = orm.mapped_column(sqlalchemy.ForeignKey("posts.id"))
    body: orm.Mapped[str] = orm.mapped_column(sqlalchemy.String(200))
    thread: orm.Mapped[SThread] = orm.relationship()
    user: orm.Mapped[SUser] = orm.relationship()
    opening: orm.Mapped["SPost | None"] = orm.relationship(remote_side=[id])


class ExecuteMany:
    """The connector's executemany per chunk: one multi-row INSERT each, ids assumed consecutive."""

    def __init__(self, bench):
        self.cnx = bench.connect()

    def insert(self, cursor, statement, rows):
        ids = []
        for chunk in chunks(rows):
            cursor.executemany(statement, chunk)
            ids.extend(range(cursor.lastrowid, cursor.lastrowid + len(chunk)))
        return ids

    def seed(self, seed):
        users, forums, threads, posts = seed
        cursor = self.cnx.cursor()
        user_ids = self.insert(cursor, "INSERT INTO users (name, email) VALUES (%s, %s)", users)
        forum_ids = self.insert(cursor, "INSERT INTO forums (name, owner_id) VALUES (%s, %s)",
                                [(name, user_ids[owner]) for name, owner in forums])
        thread_ids = self.insert(cursor, "INSERT INTO threads (forum_id, user_id, title) VALUES (%s, %s, %s)",
                                 [(forum_ids[forum], user_ids[user], title) for forum, user, title in threads])
        statement = "INSERT INTO posts (thread_id, user_id, reply_to, body) VALUES (%s, %s, %s, %s)"
        opening_ids = self.insert(cursor, statement, [(thread_ids[thread], user_ids[user], None, body)
                                                      for thread, user, _, body in posts[:THREADS]])
        self.insert(cursor, statement, [(thread_ids[thread], user_ids[user], opening_ids[opening], body)
                                        for thread, user, opening, body in posts[THREADS:]])
        self.cnx.commit()


class Module:
    def __init__(self, bench):
        self.pool = brx_sql.CNXPool(**bench.settings)

    def seed(self, seed):
        InsertMany(row_objects(seed), pool=self.pool)


class PerRow:
    """The recipe before InsertMany: one Insert per row, one guard (one transaction) per 100 rows."""

    def __init__(self, bench):
        self.pool = brx_sql.CNXPool(**bench.settings)

    def seed(self, seed):
        rows = row_objects(seed)
        for start in range(0, len(rows), 100):
            with CNXGuard(None, self.pool) as cnx:
                for row in rows[start:start + 100]:
                    row.Insert(cnx)


class Peewee:
    def __init__(self, bench):
        self.db = bench.peewee_database()
        self.db.returning_clause = True  # MariaDB 10.5 and newer: insert_many(...).returning(id)

    def insert(self, model, fields, rows):
        ids = []
        for chunk in chunks(rows):
            ids += [row[0] for row in model.insert_many(chunk, fields=fields).returning(model.id).tuples().execute()]
        return ids

    def seed(self, seed):
        proxy.initialize(self.db)
        users, forums, threads, posts = seed
        with self.db.atomic():
            user_ids = self.insert(PUser, [PUser.name, PUser.email], users)
            forum_ids = self.insert(PForum, [PForum.name, PForum.owner], [(name, user_ids[owner]) for name, owner in forums])
            thread_ids = self.insert(PThread, [PThread.forum, PThread.user, PThread.title],
                                     [(forum_ids[forum], user_ids[user], title) for forum, user, title in threads])
            fields = [PPost.thread, PPost.user, PPost.reply_to, PPost.body]
            opening_ids = self.insert(PPost, fields, [(thread_ids[thread], user_ids[user], None, body)
                                                      for thread, user, _, body in posts[:THREADS]])
            self.insert(PPost, fields, [(thread_ids[thread], user_ids[user], opening_ids[opening], body)
                                        for thread, user, opening, body in posts[THREADS:]])


class SQLAlchemy:
    def __init__(self, bench):
        self.engine = bench.sqlalchemy_engine()

    def seed(self, seed):
        users, forums, threads, posts = seed
        user_rows = [SUser(name=name, email=email) for name, email in users]
        forum_rows = [SForum(name=name, owner=user_rows[owner]) for name, owner in forums]
        thread_rows = [SThread(forum=forum_rows[forum], user=user_rows[user], title=title) for forum, user, title in threads]
        post_rows = []
        for thread, user, opening, body in posts:
            post_rows.append(SPost(thread=thread_rows[thread], user=user_rows[user], body=body,
                                   opening=None if opening is None else post_rows[opening]))
        with orm.Session(self.engine) as session:
            session.add_all(user_rows + forum_rows + thread_rows + post_rows)
            session.flush()
            session.commit()


SYSTEMS = ("raw executemany", "brx_sql InsertMany", "peewee insert_many", "SQLAlchemy add_all", "brx_sql per row")


def systems(bench):
    return list(zip(SYSTEMS, (ExecuteMany(bench), Module(bench), Peewee(bench), SQLAlchemy(bench), PerRow(bench))))


def empty(bench):
    bench.run(["SET FOREIGN_KEY_CHECKS = 0"] + ["TRUNCATE TABLE %s" % t for t in TABLES] + ["SET FOREIGN_KEY_CHECKS = 1"])


def stored(bench):
    cnx = bench.connect()
    try:
        cursor = cnx.cursor()
        cursor.execute(CHECK)
        return tuple(cursor.fetchall()[0])
    finally:
        cnx.close()


def measure(bench, names=SYSTEMS):
    progress("workload 7: seeding %d rows" % TOTAL)
    bench.run(["DROP TABLE IF EXISTS %s" % t for t in TABLES] + DDL)
    seed = data()
    made = [(name, system) for name, system in systems(bench) if name in names]
    trips, reference = {}, None
    for name, system in made:  # counts round trips, checks what was stored, and warms every system up
        empty(bench)
        trips[name] = bench.counters.count(lambda: system.seed(seed))[0]
        found = stored(bench)
        assert found[0] == TOTAL - USERS - FORUMS - THREADS, (name, found)
        assert reference is None or found == reference, "%s stored other rows than %s" % (name, made[0][0])
        reference = found
    walls, cpus = {name: [] for name, _ in made}, {name: [] for name, _ in made}
    for repeat in range(REPEATS):
        progress("workload 7: round %d of %d" % (repeat + 1, REPEATS))
        for name, system in made:
            empty(bench)
            wall, cpu = timed(lambda: system.seed(seed))
            walls[name].append(wall)
            cpus[name].append(cpu)
    return {"times": {name: Figure(samples) for name, samples in walls.items()}, "trips": trips,
            "cpu": {name: Figure(samples) for name, samples in cpus.items()}}


def rows(found, fmt_time, spread):
    if found is None:  # figures saved before this workload existed
        return []
    times, trips = found["times"], found["trips"]
    raw = times.get("raw executemany")
    found_cpu = found.get("cpu", {})
    return [("7 seed %d rows" % TOTAL if k == 0 else "", "wall (client CPU)" if k == 0 else "", name,
             fmt_time(times[name].median) + (" (%s)" % fmt_time(found_cpu[name].median) if name in found_cpu else ""),
             spread(times[name]), "%.2fx" % times[name].ratio(raw) if raw else "", "%d" % trips[name])
            for k, name in enumerate(n for n in SYSTEMS if n in times)]


def targets(found):
    if found is None:
        return []
    times = found["times"]
    brx = times["brx_sql InsertMany"]
    return [("7: seeding within 1.0x peewee's insert_many (at or below its time)", brx.ratio(times["peewee insert_many"]), 1.0),
            ("7: seeding within 1.3x the connector's executemany", brx.ratio(times["raw executemany"]), 1.3)]


def main():
    global REPEATS
    import common
    if "--quick" in sys.argv:
        REPEATS = 1
    names = [a for a in sys.argv[1:] if not a.startswith("--")] or SYSTEMS
    bench = common.Bench()
    try:
        found = measure(bench, names)
    finally:
        bench.close()
    fmt = lambda s: "%.2f s" % s
    for row in rows(found, fmt, lambda f: "±%.0f%%" % f.spread()):
        print("  ".join(str(cell) for cell in row))
    if all(name in found["times"] for name in ("brx_sql InsertMany", "peewee insert_many", "raw executemany")):
        for text, ratio, bound in targets(found):
            print("%-4s %5.2fx  %s" % ("met" if ratio <= bound else "MISS", ratio, text))
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
