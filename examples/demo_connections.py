"""Connections: a pool, guarded blocks that commit or roll back, one transaction over several steps."""
from typing import Any, Optional, Sequence

from brx_sql import CNXGuard, CNXPool


def run(cnx: Any, statement: str, params: Optional[Sequence[object]] = None) -> list[Any]:
    """Runs one statement on `cnx` and returns all its rows (none are left unread)."""
    cursor = cnx.cursor()
    cursor.execute(statement, params)
    return cursor.fetchall() if cursor.with_rows else []


def balances(pool: CNXPool) -> dict[str, int]:
    with CNXGuard(None, pool) as cnx:
        return dict(run(cnx, "SELECT owner, balance FROM app_accounts ORDER BY owner"))


def withdraw(owner: str, amount: int, cnx: Any) -> None:
    """One step of a larger piece of work: runs on the caller's connection, commits nothing."""
    with CNXGuard(cnx) as cnx:
        run(cnx, "UPDATE app_accounts SET balance = balance - %s WHERE owner = %s", (amount, owner))
        (balance,), = run(cnx, "SELECT balance FROM app_accounts WHERE owner = %s", (owner,))
        if balance < 0:
            raise ValueError("%s cannot pay %d" % (owner, amount))


def deposit(owner: str, amount: int, cnx: Any) -> None:
    with CNXGuard(cnx) as cnx:
        run(cnx, "UPDATE app_accounts SET balance = balance + %s WHERE owner = %s", (amount, owner))


def transfer(source: str, target: str, amount: int, pool: CNXPool) -> None:
    """All or nothing: the outer guard borrows one connection and commits once at the end."""
    with CNXGuard(None, pool) as cnx:
        withdraw(source, amount, cnx)
        deposit(target, amount, cnx)


def demo_connections(pool: CNXPool) -> None:
    # CNXGuard() with no arguments borrows from the default pool, CNXGuard.POOL.
    with CNXGuard() as cnx:
        run(cnx, "DROP TABLE IF EXISTS app_accounts")
        run(cnx, "CREATE TABLE app_accounts (id INT AUTO_INCREMENT PRIMARY KEY,"
                 " owner VARCHAR(40) NOT NULL UNIQUE, balance INT NOT NULL) ENGINE=InnoDB")

    with CNXGuard(None, pool) as cnx:
        run(cnx, "INSERT INTO app_accounts (owner, balance) VALUES (%s, %s), (%s, %s)",
            ("alice", 100, "bob", 50))
    print("committed block, read back:", balances(pool))

    try:
        with CNXGuard(None, pool) as cnx:
            run(cnx, "UPDATE app_accounts SET balance = 0 WHERE owner = 'alice'")
            raise RuntimeError("something went wrong inside the block")
    except RuntimeError as error:
        print("block failed (%s); rolled back, read back:" % error, balances(pool))

    transfer("alice", "bob", 30, pool)
    print("transfer of 30 from alice to bob, read back:", balances(pool))
    try:
        transfer("bob", "alice", 500, pool)
    except ValueError as error:
        print("transfer of 500 refused (%s); nothing changed:" % error, balances(pool))
