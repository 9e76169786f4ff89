"""Pickling and copying of UUID objects."""

import copy
import copyreg
import pickle

import pytest
from hypothesis import given
from hypothesis import strategies as st

import kestrand
from uuid_cases import CASE_IDS, CASE_INTS, VALUES

UUID = kestrand.UUID
NEWARGS = (None, None, None, None, 0, None)
COUNTING = bytes.fromhex("00112233445566778899aabbccddeeff")
PROTOCOLS = list(range(2, pickle.HIGHEST_PROTOCOL + 1))


class Pickled(UUID):
    """A subclass that keeps the inherited constructor."""


class Raw(bytes):
    pass


@pytest.fixture
def sample():
    return UUID(bytes=COUNTING)


# ---------------------------------------------------------------------------
# Pickle

@pytest.mark.parametrize("protocol", PROTOCOLS)
@pytest.mark.parametrize("n", CASE_INTS[:30], ids=CASE_IDS[:30])
def test_round_trip(protocol, n):
    u = UUID(int=n)
    loaded = pickle.loads(pickle.dumps(u, protocol))
    assert type(loaded) is UUID
    assert loaded is not u
    assert loaded == u and hash(loaded) == hash(u)
    assert loaded.bytes == u.bytes


def test_reduction_carries_value_in_state_only(sample):
    reduced = sample.__reduce_ex__(2)
    assert reduced[0] is copyreg.__newobj__
    assert reduced[1] == (UUID,) + NEWARGS
    assert reduced[2] == COUNTING
    assert sample.__getstate__() == sample.bytes
    assert type(sample.__getstate__()) is bytes
    for n in (0, 1, (1 << 128) - 1):
        assert UUID(int=n).__getnewargs__() == NEWARGS


def test_loads_a_pickle_written_elsewhere():
    # A protocol 3 pickle spelled out by hand: the class, the constructor
    # arguments for a nil UUID, then the 16-byte state.
    data = (b"\x80\x03ckestrand\nUUID\n(NNNNK\x00Nt\x81C\x10" + COUNTING + b"b.")
    loaded = pickle.loads(data)
    assert type(loaded) is UUID
    assert loaded.bytes == COUNTING


@pytest.mark.parametrize("protocol", PROTOCOLS)
def test_subclass_round_trip_keeps_class_but_not_attributes(protocol):
    s = Pickled(bytes=COUNTING)
    s.note = "dropped"
    loaded = pickle.loads(pickle.dumps(s, protocol))
    assert type(loaded) is Pickled
    assert loaded.bytes == COUNTING
    assert not hasattr(loaded, "note")


# ---------------------------------------------------------------------------
# copy and deepcopy

def test_copy_and_deepcopy_make_new_equal_objects(sample):
    for duplicate in (copy.copy(sample), copy.deepcopy(sample),
                      sample.__copy__(), sample.__deepcopy__({})):
        assert type(duplicate) is UUID
        assert duplicate is not sample
        assert duplicate == sample and hash(duplicate) == hash(sample)


def test_copies_of_subclass_instances_are_plain_uuids():
    s = Pickled(bytes=COUNTING)
    for duplicate in (copy.copy(s), copy.deepcopy(s), s.__copy__(), s.__deepcopy__({})):
        assert type(duplicate) is UUID
        assert duplicate.bytes == COUNTING


def test_deepcopy_memo_is_neither_read_nor_changed(sample):
    decoy = UUID(int=1)
    memo = {id(sample): decoy}
    result = sample.__deepcopy__(memo)
    assert result is not decoy and result == sample
    assert memo == {id(sample): decoy}


def test_deepcopy_of_repeated_element_shares_the_copy(sample):
    first, second = copy.deepcopy([sample, sample])
    assert first is second
    assert first is not sample and first == sample


@pytest.mark.parametrize("memo", [{}, type("Memo", (dict,), {})()])
def test_deepcopy_accepts_dict_and_subclasses(sample, memo):
    assert sample.__deepcopy__(memo) == sample
    assert sample.__deepcopy__(_memo=memo) == sample


@pytest.mark.parametrize("memo, type_name", [
    (None, "NoneType"), ([], "list"), (1, "int"), (((1, 2),), "tuple"),
])
def test_deepcopy_refuses_non_dict_memo(sample, memo, type_name):
    with pytest.raises(TypeError) as excinfo:
        sample.__deepcopy__(memo)
    assert type(excinfo.value) is TypeError
    assert str(excinfo.value) == (
        f"argument '_memo': '{type_name}' object cannot be converted to 'PyDict'")


# ---------------------------------------------------------------------------
# __setstate__ rewrites a value in place.

def test_setstate_rewrites_value_in_place(sample):
    before_id = id(sample)
    assert sample.__setstate__(bytes(16)) is None
    assert id(sample) == before_id
    assert sample == UUID(int=0)
    assert sample.int == 0 and int(sample) == 0
    assert str(sample) == "00000000-0000-0000-0000-000000000000"
    assert hash(sample) == hash(UUID(int=0))
    assert sample.version == 0 and sample.fields == (0,) * 6


@pytest.mark.parametrize("state", [
    pytest.param(b"\xff" * 16, id="all-ones"),
    pytest.param(bytes(range(16)), id="counting"),
    pytest.param(Raw(bytes(range(100, 116))), id="bytes-subclass"),
])
def test_setstate_accepts_any_sixteen_bytes(sample, state):
    sample.__setstate__(state=state)
    assert sample.bytes == bytes(state)
    assert sample.hex == bytes(state).hex()


def test_setstate_on_subclass_instance():
    s = Pickled(int=1)
    s.__setstate__(COUNTING)
    assert type(s) is Pickled
    assert s.bytes == COUNTING


@pytest.mark.parametrize("state, exc_type, message", [
    ("x", TypeError, "'str' object cannot be converted to 'PyBytes'"),
    (bytearray(16), TypeError, "'bytearray' object cannot be converted to 'PyBytes'"),
    (memoryview(bytes(16)), TypeError, "'memoryview' object cannot be converted to 'PyBytes'"),
    (None, TypeError, "'NoneType' object cannot be converted to 'PyBytes'"),
    (0, TypeError, "'int' object cannot be converted to 'PyBytes'"),
    (b"", ValueError, "bytes is not a 16-char string"),
    (bytes(15), ValueError, "bytes is not a 16-char string"),
    (bytes(17), ValueError, "bytes is not a 16-char string"),
])
def test_setstate_failures_leave_value_unchanged(sample, state, exc_type, message):
    with pytest.raises(exc_type) as excinfo:
        sample.__setstate__(state)
    assert type(excinfo.value) is exc_type
    # The state's conversion error is raised bare, without an argument prefix.
    assert str(excinfo.value) == message
    assert sample.bytes == COUNTING
    # A failed call leaves no hold behind: the object is still usable and
    # can be written again.
    assert str(sample) == "00112233-4455-6677-8899-aabbccddeeff"
    sample.__setstate__(bytes(16))
    assert sample.int == 0


# ---------------------------------------------------------------------------
# The five methods and their text signatures.

@pytest.mark.parametrize("name, signature", [
    ("__getstate__", "($self)"),
    ("__setstate__", "($self, state)"),
    ("__getnewargs__", "($self)"),
    ("__copy__", "($self)"),
    ("__deepcopy__", "($self, _memo)"),
])
def test_method_signatures(name, signature):
    method = vars(UUID)[name]
    assert method.__text_signature__ == signature
    assert method.__doc__ is None


def test_no_reduce_of_its_own():
    assert "__reduce__" not in vars(UUID)
    assert "__reduce_ex__" not in vars(UUID)


@given(n=VALUES, protocol=st.sampled_from(PROTOCOLS), cls=st.sampled_from([UUID, Pickled]))
def test_pickle_round_trips_any_value(n, protocol, cls):
    u = cls(int=n)
    for back in (pickle.loads(pickle.dumps(u, protocol)),
                 pickle.loads(pickle.dumps([u, u], protocol))[1]):
        assert type(back) is cls and back is not u
        assert back.bytes == u.bytes and back == u and hash(back) == hash(u)
