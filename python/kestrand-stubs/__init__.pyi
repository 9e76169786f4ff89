"""Type information for the native ``kestrand`` extension module."""

from typing import Any, Self, SupportsIndex, TypeAlias

from typing_extensions import disjoint_base

# Inside ``UUID`` the names ``int``, ``bytes`` and ``hex`` are properties, so
# the builtin types are reached through these aliases there.
_Int: TypeAlias = int
_Bytes: TypeAlias = bytes
_FieldsTuple: TypeAlias = tuple[int, int, int, int, int, int]

__all__ = [
    "UUID",
    "uuid3",
    "uuid5",
    "uuid4_bulk",
    "uuid4_as_strings_bulk",
    "uuid4",
    "uuid1",
    "uuid_v1mc",
    "uuid7_bulk",
    "uuid7_as_strings_bulk",
    "uuid7",
]

# Instances keep their value in a fixed C layout, so a class cannot inherit
# from UUID and another such base at once.
@disjoint_base
class UUID:
    """A 128-bit UUID value stored inline in the object.

    Exactly one of ``hex``, ``bytes``, ``bytes_le``, ``fields`` and ``int``
    must be given. ``version`` (1 to 5) is checked for every form but only
    changes the value for the ``bytes`` and ``bytes_le`` forms.
    """

    def __new__(
        cls,
        hex: str | None = None,
        bytes: _Bytes | None = None,
        bytes_le: _Bytes | None = None,
        fields: _FieldsTuple | None = None,
        int: SupportsIndex | None = None,
        version: SupportsIndex | None = None,
    ) -> Self: ...

    # Read-only views of the 16 bytes.
    @property
    def int(self) -> _Int: ...
    @property
    def bytes(self) -> _Bytes: ...
    @property
    def bytes_le(self) -> _Bytes: ...
    @property
    def hex(self) -> str: ...
    @property
    def urn(self) -> str: ...
    @property
    def version(self) -> _Int:
        """The top nibble of byte 6, for every variant; never None."""
    @property
    def variant(self) -> str: ...
    @property
    def fields(self) -> _FieldsTuple: ...
    @property
    def time_low(self) -> _Int: ...
    @property
    def time_mid(self) -> _Int: ...
    @property
    def time_hi_version(self) -> _Int: ...
    @property
    def clock_seq_hi_variant(self) -> _Int: ...
    @property
    def clock_seq_low(self) -> _Int: ...
    @property
    def time(self) -> _Int:
        """Timestamp field; Unix milliseconds for version 7 values."""
    @property
    def node(self) -> _Int: ...

    # Value protocol. Comparisons with anything that is not a UUID return
    # NotImplemented, so ordering against other types is a type error.
    def __str__(self) -> str: ...
    def __repr__(self) -> str: ...
    def __int__(self) -> _Int: ...
    def __hash__(self) -> _Int: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...
    def __lt__(self, other: UUID, /) -> bool: ...
    def __le__(self, other: UUID, /) -> bool: ...
    def __gt__(self, other: UUID, /) -> bool: ...
    def __ge__(self, other: UUID, /) -> bool: ...

    # Pickling and copying. The pickled state is the 16 value bytes; copies
    # are always of class UUID itself, whatever the class of the original.
    def __getstate__(self) -> _Bytes: ...
    def __setstate__(self, state: _Bytes) -> None: ...
    def __getnewargs__(self) -> tuple[None, None, None, None, _Int, None]: ...
    def __copy__(self) -> UUID: ...
    def __deepcopy__(self, _memo: dict[Any, Any]) -> UUID: ...

def uuid3(namespace: UUID, name: _Bytes) -> UUID:
    """Return the version 3 UUID of a namespace and a name: MD5 of the
    namespace's 16 bytes followed by the name's bytes."""

def uuid5(namespace: UUID, name: _Bytes) -> UUID:
    """Return the version 5 UUID of a namespace and a name: SHA-1 of the
    namespace's 16 bytes followed by the name's bytes."""

def uuid1(node: SupportsIndex | None = None, clock_seq: SupportsIndex | None = None) -> UUID:
    """Return a time-based (version 1) UUID.

    ``node`` defaults to ``uuid.getnode()`` (asked on every call) and only its
    low 48 bits are used; ``clock_seq`` (0 to 65535, low 14 bits used)
    defaults to the process's clock sequence, which steps by one per call.
    """

def uuid_v1mc() -> UUID:
    """Return a version 1 UUID with a random multicast node, drawn from a
    per-thread generator, and the process's clock sequence."""

def uuid4() -> UUID:
    """Return a random (version 4) UUID."""

def uuid7() -> UUID:
    """Return a time-ordered (version 7) UUID, strictly increasing per process."""

def uuid4_bulk(n: SupportsIndex) -> list[UUID]:
    """Return n random UUIDs, generated without holding the interpreter lock."""

def uuid7_bulk(n: SupportsIndex) -> list[UUID]:
    """Return n strictly increasing version 7 UUIDs."""

def uuid4_as_strings_bulk(n: SupportsIndex) -> list[str]:
    """Return n random UUIDs as 32-digit lowercase hexadecimal strings."""

def uuid7_as_strings_bulk(n: SupportsIndex) -> list[str]:
    """Return n version 7 UUIDs as 32-digit lowercase hexadecimal strings."""
