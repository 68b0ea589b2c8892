# Must fail mypy (scripts/ci/typecheck.sh): a guard's connection passed by
# position lands in Update's update_multi_foreign, not in its cnx.
from brx_sql import CNXGuard, TableBase


class Row(TableBase):
    TABLE_NAME = "rows"
    COLUMN_NAMES = ["id"]


def save(row: Row) -> None:
    with CNXGuard() as cnx:
        row.Update(cnx)
