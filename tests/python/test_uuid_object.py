"""The UUID class as a type: layout, subclassing and the reuse of freed
instances."""

import gc
import sys
import tracemalloc
import weakref

import pytest

import kestrand

UUID = kestrand.UUID

HAVE_GC = 1 << 14
HEAPTYPE = 1 << 9
BASETYPE = 1 << 10


def _setattr_message(type_name, attr):
    # The interpreter's wording for a missing attribute differs between
    # versions; take it from a plain object and swap in the type name.
    try:
        object().__setattr__(attr, 1)
    except AttributeError as exc:
        return str(exc).replace("'object'", f"'{type_name}'", 1)
    raise AssertionError("object() accepted an attribute")


def test_class_names():
    assert UUID.__module__ == "kestrand"
    assert UUID.__name__ == "UUID"
    assert UUID.__qualname__ == "UUID"
    assert UUID.__mro__ == (UUID, object)


def test_type_flags_and_layout():
    flags = UUID.__flags__
    assert flags & HEAPTYPE
    assert flags & BASETYPE
    assert not flags & HAVE_GC
    # Object header, 16 value bytes and an 8-byte hold flag; nothing else.
    assert UUID.__basicsize__ == object.__basicsize__ + 16 + 8
    assert UUID.__itemsize__ == 0
    assert UUID.__dictoffset__ == 0
    assert UUID.__weakrefoffset__ == 0
    u = UUID(int=1)
    assert sys.getsizeof(u) == UUID.__basicsize__
    assert not gc.is_tracked(u)


def test_instances_have_no_dict_or_weakref():
    u = UUID(int=1)
    assert not hasattr(u, "__dict__")
    with pytest.raises(AttributeError) as excinfo:
        u.tag = 1
    assert str(excinfo.value) == _setattr_message("kestrand.UUID", "tag")
    with pytest.raises(TypeError) as excinfo:
        weakref.ref(u)
    assert str(excinfo.value) == "cannot create weak reference to 'kestrand.UUID' object"


def test_subclass_gets_dict_and_keeps_value():
    class Tagged(UUID):
        pass

    t = Tagged(int=1)
    assert isinstance(t, Tagged) and isinstance(t, UUID)
    assert t.int == 1
    t.tag = "kept"
    assert t.tag == "kept"
    assert weakref.ref(t)() is t


def test_subclass_with_slots_and_own_methods():
    class Slotted(UUID):
        __slots__ = ("extra",)

        def shout(self):
            return str(self).upper()

    s = Slotted(hex="00112233445566778899aabbccddeeff")
    s.extra = 3
    assert s.shout() == "00112233-4455-6677-8899-AABBCCDDEEFF"
    assert s.extra == 3
    with pytest.raises(AttributeError) as excinfo:
        s.other = 1
    assert str(excinfo.value) == _setattr_message("Slotted", "other")


@pytest.mark.skipif(not hasattr(kestrand, "uuid3"), reason="uuid3 not built")
def test_uuid_parameters_accept_subclass_instances_only():
    class Derived(UUID):
        pass

    ns = UUID(hex="6ba7b810-9dad-11d1-80b4-00c04fd430c8")
    assert kestrand.uuid3(Derived(bytes=ns.bytes), b"x") == kestrand.uuid3(ns, b"x")
    for bad, type_name in [("6ba7b810-9dad-11d1-80b4-00c04fd430c8", "str"), (ns.int, "int"), (ns.bytes, "bytes")]:
        with pytest.raises(TypeError) as excinfo:
            kestrand.uuid3(bad, b"x")
        assert str(excinfo.value) == (
            f"argument 'namespace': '{type_name}' object cannot be converted to 'UUID'")


# ---------------------------------------------------------------------------
# Freed instances are kept for reuse.

def test_reused_blocks_carry_the_new_value():
    for round_ in range(3):
        batch = [UUID(int=i * 7919 + round_) for i in range(1500)]
        for i, u in enumerate(batch):
            assert u.int == i * 7919 + round_
            assert type(u) is UUID
        del batch


def test_churn_through_freed_blocks_keeps_memory_flat():
    def churn():
        batch = [UUID(int=i) for i in range(2500)]
        del batch

    churn()
    tracemalloc.start()
    try:
        churn()  # settle whatever the first traced round allocates
        baseline = tracemalloc.get_traced_memory()[0]
        for _ in range(20):
            churn()
        grown = tracemalloc.get_traced_memory()[0] - baseline
    finally:
        tracemalloc.stop()
    # Twenty rounds of 2500 objects: anything near one object per round
    # would be a leak; allow a little for interpreter-internal noise.
    assert grown < 16 * 1024


def test_type_reference_count_unchanged_by_reuse():
    # Fill the free list first so that it is in the same state before and
    # after the measured round.
    warm = [UUID(int=i) for i in range(5000)]
    del warm
    before = sys.getrefcount(UUID)
    batch = [UUID(int=i) for i in range(5000)]
    copies = [u.__copy__() for u in batch[:100]]
    del batch, copies
    after = sys.getrefcount(UUID)
    assert after == before


def test_subclass_type_is_collected_after_its_instances():
    def make():
        class Temporary(UUID):
            pass

        instances = [Temporary(int=i) for i in range(50)]
        return weakref.ref(Temporary), instances

    ref, instances = make()
    assert ref() is not None
    del instances
    gc.collect()
    assert ref() is None


def test_memory_per_live_object():
    count = 100_000
    holder = [None] * count
    source = UUID(int=0x00112233445566778899AABBCCDDEEFF)
    gc.collect()
    tracemalloc.start()
    try:
        start = tracemalloc.get_traced_memory()[0]
        for i in range(count):
            holder[i] = source.__copy__()
        used = tracemalloc.get_traced_memory()[0] - start
    finally:
        tracemalloc.stop()
    assert all(u == source for u in holder[:10])
    assert used / count <= 48
    del holder
