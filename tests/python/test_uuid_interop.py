"""What database drivers, ORMs and serialisers read from a UUID: exact
built-in types for .bytes, .hex and str(), and a class they can name."""

import copy
import pickle
import uuid

import pytest

import kestrand
from uuid_cases import CASE_INTS, Derived

# Every way a UUID object comes into being; each must look the same to a tool.
SOURCES = [
    pytest.param(lambda: kestrand.UUID(int=CASE_INTS[5]), id="constructor"),
    pytest.param(lambda: Derived(int=CASE_INTS[5]), id="subclass"),
    pytest.param(kestrand.uuid4, id="uuid4"),
    pytest.param(kestrand.uuid7, id="uuid7"),
    pytest.param(lambda: kestrand.uuid7_bulk(3)[2], id="uuid7_bulk"),
    pytest.param(lambda: kestrand.uuid1(node=1), id="uuid1"),
    pytest.param(lambda: kestrand.uuid5(kestrand.uuid4(), b"x"), id="uuid5"),
    pytest.param(lambda: pickle.loads(pickle.dumps(kestrand.uuid4())), id="unpickled"),
    pytest.param(lambda: copy.deepcopy(kestrand.uuid4()), id="deepcopy"),
]


@pytest.mark.parametrize("make", SOURCES)
def test_the_forms_tools_read_are_exact_builtin_types(make):
    u = make()
    std = uuid.UUID(int=int(u))
    assert type(u.bytes) is bytes and u.bytes == std.bytes and len(u.bytes) == 16
    assert type(u.hex) is str and u.hex.isascii() and u.hex == std.hex and len(u.hex) == 32
    assert type(str(u)) is str and str(u) == str(std) == str(u).lower()
    # Tools that register adapters by "module.QualName" find the class.
    cls = type(u) if type(u) is kestrand.UUID else type(u).__mro__[1]
    assert (cls.__module__, cls.__qualname__) == ("kestrand", "UUID")


@pytest.mark.parametrize("n", CASE_INTS)
def test_text_and_bytes_match_the_standard_library_for_every_value(n):
    u, std = kestrand.UUID(int=n), uuid.UUID(int=n)
    assert (u.bytes, u.hex, str(u)) == (std.bytes, std.hex, str(std))


def test_mixed_dictionary_keys_never_collide():
    keys = [kestrand.UUID(int=n) for n in CASE_INTS]
    table = {k: "kestrand" for k in keys}
    table.update({uuid.UUID(int=int(k)): "stdlib" for k in keys})
    assert len(table) == 2 * len(keys)
    for k in keys:
        std = uuid.UUID(int=int(k))
        assert k != std and std != k
        assert (table[k], table[std]) == ("kestrand", "stdlib")
    assert len(set(keys) | {uuid.UUID(int=int(k)) for k in keys}) == 2 * len(keys)
