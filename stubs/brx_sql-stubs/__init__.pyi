# Types of the brx_sql extension module. The module is one compiled file, which
# cannot carry a py.typed marker, so its types ship as this stub-only package
# (installed beside it by CMake). scripts/ci/typecheck.sh checks it against the
# built module with stubtest.
#
# A connection is what a guard lends: the module uses only its cursor(),
# in_transaction, commit(), rollback() and close(), and hands on whatever the
# pool's Get() returns. Any object with Get() and Put(connection) serves as a
# pool.
import threading
from collections.abc import Callable, Iterable, KeysView, Mapping, Sequence
from types import ModuleType, TracebackType
from typing import Any, ClassVar, Protocol, TypeVar, overload

from typing_extensions import disjoint_base

from mysql.connector.abstracts import MySQLConnectionAbstract
from mysql.connector.pooling import PooledMySQLConnection

_R = TypeVar("_R")
_Row = TypeVar("_Row", bound="TableBase")

class _Connection(Protocol):
    # What the module and its users call on a connection (mysql.connector's
    # connections have all of it).
    @property
    def in_transaction(self) -> bool: ...
    @property
    def autocommit(self) -> bool: ...
    def cursor(self, *args: Any, **kwargs: Any) -> Any: ...
    def commit(self) -> object: ...
    def rollback(self) -> object: ...
    def start_transaction(self, *args: Any, **kwargs: Any) -> object: ...
    def close(self) -> object: ...
    def is_connected(self) -> bool: ...

class _Pool(Protocol):
    def Get(self) -> Any: ...
    def Put(self, connection: Any, /) -> object: ...

_connector: ModuleType  # mysql.connector, looked up at each use
_Lock: Callable[[], threading.Lock]  # threading.Lock, one per CNXPool
__test__: dict[str, Any]

# Whether the DEBUG log of the logger "brx_sql" shows each statement's
# parameters beside its text; read at each logged statement.
LOG_PARAMETERS: bool
__version__: str

class CNXPool:
    # Read from the pool at each use: set on a pool for that pool, on the class for every pool.
    MAX_IDLE: int  # idle connections kept at most
    PING_AFTER: float  # seconds after its return within which a connection is lent unchecked
    # Every keyword goes to mysql.connector.connect, unchanged, for each new connection.
    def __init__(self, **dbconfig: Any) -> None: ...
    def Get(self) -> PooledMySQLConnection | MySQLConnectionAbstract: ...
    def Put(self, connection: Any) -> None: ...
    _CNXPool__dbconfig: dict[str, Any]
    _CNXPool__pool: list[Any]  # idle connections, the most recently returned last
    _CNXPool__lock: threading.Lock
    _CNXPool__returned: dict[int, tuple[Any, float]]  # id(connection) -> (connection, when it came back)

class CNXGuard:
    POOL: ClassVar[_Pool | None]
    def __init__(self, cnx: _Connection | None = None, pool: _Pool | None = None) -> None: ...
    def __enter__(self) -> _Connection: ...
    def __exit__(
        self,
        exception_type: type[BaseException] | None,
        exception_value: BaseException | None,
        exception_traceback: TracebackType | None,
    ) -> None: ...
    # `_class` is called with the row's column values in table order: a
    # TableBase subclass, or any callable taking them.
    @staticmethod
    def Select(id: int, table: str, _class: Callable[..., _R], cnx: _Connection | None = None, pool: _Pool | None = None) -> _R: ...
    @staticmethod
    def SelectForeignAttr(
        foreign_id: Any,
        foreign_column: Any,
        foreign_table: Any,
        _class: Any = None,
        cnx: _Connection | None = None,
        pool: _Pool | None = None,
    ) -> None: ...
    # A dict is read in the order of `column_names`; any other value holds one
    # value per column, in table order.
    @staticmethod
    def Insert(
        table: str,
        column_names: Sequence[str],
        column_values: dict[str, Any] | Sequence[Any],
        cnx: _Connection | None = None,
        pool: _Pool | None = None,
    ) -> int: ...
    @staticmethod
    def Delete(id: int, table: str, cnx: _Connection | None = None, pool: _Pool | None = None) -> None: ...
    @staticmethod
    def AlterAutoIncrement(table: str, value: int = 1, cnx: _Connection | None = None, pool: _Pool | None = None) -> None: ...
    @staticmethod
    def ClearTable(tables: str | Iterable[str], cnx: _Connection | None = None, pool: _Pool | None = None) -> None: ...
    _CNXGuard__cnx: Any
    _CNXGuard__pool: _Pool | None
    _CNXGuard__need_put: bool

class Cache:
    def __init__(self, pool: _Pool | None = None) -> None: ...
    def _Cache__get_pool(self, pool: _Pool | None) -> _Pool | None: ...
    def SetPool(self, pool: _Pool | None) -> None: ...
    # A hit returns the cached object whatever `_class` says; a miss builds it
    # with `_class`, or with the class registered for the table.
    @overload
    def Select(
        self, id: int, table: str, _class: Callable[..., _R], cnx: _Connection | None = None, pool: _Pool | None = None
    ) -> _R: ...
    @overload
    def Select(self, id: int, table: str, _class: None = None, cnx: _Connection | None = None, pool: _Pool | None = None) -> Any: ...
    # By row object, or by identifier and table name.
    @overload
    def Delete(self, obj: TableBase, table: str | None = None, cnx: _Connection | None = None, pool: _Pool | None = None) -> None: ...
    @overload
    def Delete(self, obj: int, table: str, cnx: _Connection | None = None, pool: _Pool | None = None) -> None: ...
    def Insert(self, obj: TableBase, table: str | None = None, cnx: _Connection | None = None, pool: _Pool | None = None) -> None: ...
    # The table's live row dict, identifier -> row object.
    def CachedTable(self, table: str) -> dict[int, Any]: ...
    def ClearTable(self, table: str) -> None: ...
    @overload
    def Cache(
        self, table: str, _class: Callable[..., _R], cnx: _Connection | None = None, pool: _Pool | None = None
    ) -> dict[int, _R]: ...
    @overload
    def Cache(self, table: str, _class: None = None, cnx: _Connection | None = None, pool: _Pool | None = None) -> dict[int, Any]: ...
    def Refresh(self, table: str, clear: bool = True, cnx: _Connection | None = None, pool: _Pool | None = None) -> None: ...
    def Tables(self) -> KeysView[str]: ...
    def Update(self, table: str, cnx: _Connection | None = None, pool: _Pool | None = None) -> None: ...
    _Cache__obj_dict: dict[str, dict[int, Any]]
    _Cache__class_dict: dict[str, Callable[..., Any]]
    _Cache__pool: _Pool | None

class ColumnAttribute:
    name: str
    default: Any
    isForeignKey: bool
    # Set only when isForeignKey is true.
    foreignTableName: str
    foreignClass: Callable[..., Any] | None
    def __init__(
        self,
        name: str,
        default: Any = None,
        isForeignKey: bool = False,
        foreignTableName: str | None = None,
        foreignClass: Callable[..., Any] | None = None,
    ) -> None: ...

class MultiForeignAttr:
    attr_name: str
    foreign_name: str
    foreign_attr_table: str
    _class: type[TableBase]
    def __init__(self, attr_name: str, foreign_name: str, foreign_attr_table: str, _class: type[TableBase]) -> None: ...

@disjoint_base
class TableBase:
    # A subclass's table: its name, its columns ("id" first, in table order),
    # column defaults and foreign keys, and the attributes holding lists of rows
    # of other tables. A loaded list is an instance attribute named by its
    # MULTI_FOREIGN_ATTR key: declare it in the subclass (`pets: list[Pet]`) to
    # read it as an attribute.
    TABLE_NAME: ClassVar[str]
    COLUMN_NAMES: ClassVar[Sequence[str]]
    COLUMN_ATTRIBUTES: ClassVar[dict[str, ColumnAttribute]]
    MULTI_FOREIGN_ATTR: ClassVar[dict[str, MultiForeignAttr]]
    CACHE: ClassVar[Cache | None]
    POOL: ClassVar[_Pool | None]
    # Column values by position in COLUMN_NAMES order, or by name; a keyword
    # that names no column becomes an instance attribute.
    def __init__(self, *column_tuple: Any, **column_dict: Any) -> None: ...
    def _TableBase__is_foreign(self, name: str) -> bool: ...
    def _TableBase__is_foreign_key(self, name: str) -> bool: ...
    def _TableBase__get_default(self, name: str) -> Any: ...
    def _TableBase__get_pool(self, pool: _Pool | None) -> _Pool | None: ...
    # A column value (a foreign key as the row object it points at), a list of
    # a MULTI_FOREIGN_ATTR entry, or an attribute.
    def __getitem__(self, name: str) -> Any: ...
    def __setitem__(self, name: str, value: Any) -> None: ...
    # Pickling and copying: the instance attributes with the column store
    # under its name (and the values of a subclass's slots beside them).
    def __getstate__(self) -> Any: ...
    def __setstate__(self, state: Any) -> None: ...
    def __reduce__(self) -> tuple[Any, ...]: ...
    def _TableBase__get_foreigns(self) -> list[str]: ...
    def FillForeign(self, deep: bool = True, cnx: _Connection | None = None, pool: _Pool | None = None) -> None: ...
    # Stores the row (after the rows it refers to) and returns its new "id".
    def Insert(self, cnx: _Connection | None = None, pool: _Pool | None = None) -> int: ...
    def _TableBase__insert_multi_foreign_attr(self, cnx: _Connection) -> None: ...
    def _TableBase__delete_multi_foreign_attr(self, cnx: _Connection) -> None: ...
    def Delete(self, cnx: _Connection | None = None, pool: _Pool | None = None) -> None: ...
    def _TableBase__column_value_for_update(self, column_name: str) -> Any: ...
    def Update(self, update_multi_foreign: bool = True, cnx: _Connection | None = None, pool: _Pool | None = None) -> None: ...
    # The id a foreign-key column refers to, without a lookup: the int it
    # holds, the held row object's "id", or None.
    def ForeignId(self, name: str) -> int | None: ...
    _TableBase__column_values: dict[str, Any]

def GetTableNames(cnx: _Connection | None = None, pool: _Pool | None = None) -> list[str]: ...
def GetCreateTableStatement(table: str, cnx: _Connection | None = None, pool: _Pool | None = None) -> str: ...

# Every row (a list of tuples) for a statement opening with SELECT or SHOW, the
# new identifier for INSERT, None for anything else: Any, since which one
# depends on the statement's text.
def Execute(statement: str, cnx: _Connection | None = None, pool: _Pool | None = None) -> Any: ...

# One statement with its parameters (a sequence for %s markers, a mapping for
# %(name)s markers; they travel as parameters, never in the text), in one
# guarded block: its rows as tuples, or with `_class` one `_class(*row)` each,
# columns after those of its COLUMN_NAMES passed by name. A parameter holding a
# list or tuple is an IN list: "(%s, %s, ...)", one marker per item, "(NULL)"
# when empty. A statement without rows (an UPDATE) gives an empty list.
@overload
def Query(
    statement: str,
    params: Sequence[Any] | Mapping[str, Any] | None,
    _class: Callable[..., _R],
    cnx: _Connection | None = None,
    pool: _Pool | None = None,
) -> list[_R]: ...
@overload
def Query(
    statement: str,
    params: Sequence[Any] | Mapping[str, Any] | None = None,
    *,
    _class: Callable[..., _R],
    cnx: _Connection | None = None,
    pool: _Pool | None = None,
) -> list[_R]: ...
@overload
def Query(
    statement: str,
    params: Sequence[Any] | Mapping[str, Any] | None = None,
    _class: None = None,
    cnx: _Connection | None = None,
    pool: _Pool | None = None,
) -> list[tuple[Any, ...]]: ...

# Follows every dotted path ("inventory_id.film_id", "payments") for all the
# rows at once, one statement per step, in one guarded block; returns the rows
# (the list given, or a new list of the rows of another iterable).
def FillForeignMany(
    rows: Iterable[_Row], paths: Iterable[str], cnx: _Connection | None = None, pool: _Pool | None = None
) -> list[_Row]: ...

# Stores the rows as each one's Insert would, in list order and in one guarded
# block (consecutive new rows of one table as multi-row INSERTs where the server
# returns their ids); returns their ids in the same order. All or nothing.
def InsertMany(rows: Iterable[TableBase], cnx: _Connection | None = None, pool: _Pool | None = None) -> list[int]: ...
