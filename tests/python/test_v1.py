"""uuid1 and uuid_v1mc, in the test process itself.

The layout is compared with the standard library's uuid1 for the same node and
clock sequence; argument handling against the exact messages and the order in
which the arguments and the host's getnode() are consulted; the process-wide
clock sequence by its steps between calls. Failures of the operating system,
the per-thread generator's reseeding and fork are in test_v1_failures.py.
"""

from __future__ import annotations

import sys
import threading
import time
import types
import uuid

import pytest

import kestrand
from uuid_cases import Index

GREGORIAN_OFFSET = 0x01B21DD213814000
SEQUENCE_MODULUS = 1 << 14


def ticks_now() -> int:
    return time.time_ns() // 100 + GREGORIAN_OFFSET


def fields(u: kestrand.UUID) -> tuple[int, int, int]:
    """(clock_seq, node, time) as the standard library reads them."""
    std = uuid.UUID(bytes=u.bytes)
    assert std.version == 1 and std.variant == uuid.RFC_4122
    return std.clock_seq, std.node, std.time


def sequence_step(first: kestrand.UUID, second: kestrand.UUID) -> int:
    return (fields(second)[0] - fields(first)[0]) % SEQUENCE_MODULUS


# --- layout ------------------------------------------------------------------


@pytest.mark.parametrize(
    "node, clock_seq",
    [(0, 0), (1, 5), (0xFFFFFFFFFFFF, 0x3FFF), (0x0123456789AB, 0x2A5A), (0x010000000000, 16389)],
)
def test_layout_matches_the_standard_library(node, clock_seq):
    before = ticks_now()
    ours = kestrand.uuid1(node, clock_seq)
    theirs = uuid.uuid1(node, clock_seq)
    after = ticks_now()
    assert isinstance(ours, kestrand.UUID)
    assert ours.version == 1 and ours.variant == uuid.RFC_4122
    # Everything but the timestamp agrees byte for byte.
    assert ours.bytes[8:] == theirs.bytes[8:]
    assert fields(ours)[:2] == (clock_seq & 0x3FFF, node)
    assert theirs.clock_seq == clock_seq & 0x3FFF
    assert before - 1 <= ours.time <= after + 1


@pytest.mark.parametrize("node", [1, (1 << 48) + 1, Index(1), (1 << 64) - (1 << 48) + 1])
def test_node_keeps_its_low_48_bits(node):
    assert kestrand.uuid1(node).bytes[10:] == bytes(5) + b"\x01"


@pytest.mark.parametrize("clock_seq", [5, 16389, 32773, 65536 - 16384 + 5, Index(5)])
def test_caller_clock_sequence_keeps_its_low_14_bits(clock_seq):
    assert kestrand.uuid1(0, clock_seq).bytes[8:10] == b"\x80\x05"


def test_time_is_now_in_gregorian_ticks():
    for make in (kestrand.uuid1, kestrand.uuid_v1mc):
        before = ticks_now()
        value = make()
        after = ticks_now()
        assert before - 1 <= value.time <= after + 1, make


def test_time_fields_match_the_standard_library_reading():
    value = kestrand.uuid1(7, 9)
    std = uuid.UUID(str(value))
    assert (value.time_low, value.time_mid, value.time_hi_version) == (
        std.time_low,
        std.time_mid,
        std.time_hi_version,
    )
    assert value.time == std.time


# --- the shared clock sequence -----------------------------------------------


def test_clock_sequence_steps_by_one_and_ignores_caller_sequences():
    first = kestrand.uuid1()
    second = kestrand.uuid1()
    assert sequence_step(first, second) == 1
    assert fields(first)[1] == fields(second)[1] == uuid.getnode()

    kestrand.uuid1(clock_seq=5)
    kestrand.uuid1(7, 0)
    third = kestrand.uuid1()
    assert sequence_step(second, third) == 1


def test_uuid1_and_uuid_v1mc_share_the_sequence():
    values = [kestrand.uuid1(), kestrand.uuid_v1mc(), kestrand.uuid1(), kestrand.uuid_v1mc()]
    assert [sequence_step(a, b) for a, b in zip(values, values[1:])] == [1, 1, 1]


def test_sequence_runs_through_every_value():
    seen = {fields(kestrand.uuid1(1))[0] for _ in range(SEQUENCE_MODULUS)}
    assert len(seen) == SEQUENCE_MODULUS


# --- arguments ---------------------------------------------------------------

CLOCK_SEQ_RANGE = "out of range integral type conversion attempted"


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"clock_seq": 65536}, OverflowError, CLOCK_SEQ_RANGE),
        ({"clock_seq": -1}, OverflowError, CLOCK_SEQ_RANGE),
        ({"clock_seq": 1 << 63}, OverflowError, "Python int too large to convert to C long"),
        ({"clock_seq": -(1 << 63) - 1}, OverflowError, "Python int too large to convert to C long"),
        ({"clock_seq": "5"}, TypeError, "argument 'clock_seq': 'str' object cannot be interpreted as an integer"),
        ({"clock_seq": 5.0}, TypeError, "argument 'clock_seq': 'float' object cannot be interpreted as an integer"),
        ({"node": -1}, OverflowError, "can't convert negative int to unsigned"),
        ({"node": 1 << 64}, OverflowError, "int too big to convert"),
        ({"node": "1"}, TypeError, "argument 'node': 'str' object cannot be interpreted as an integer"),
        ({"node": b"\x01" * 6}, TypeError, "argument 'node': 'bytes' object cannot be interpreted as an integer"),
        # The node is converted first.
        ({"node": "1", "clock_seq": -1}, TypeError, "argument 'node': 'str' object cannot be interpreted as an integer"),
        ({"node": -1, "clock_seq": "5"}, OverflowError, "can't convert negative int to unsigned"),
    ],
)
def test_argument_errors(kwargs, error, message):
    with pytest.raises(error) as caught:
        kestrand.uuid1(**kwargs)
    assert type(caught.value) is error
    assert caught.value.args == (message,)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: kestrand.uuid1(1, 2, 3), "uuid1() takes from 0 to 2 positional arguments but 3 were given"),
        (lambda: kestrand.uuid1(nodes=1), "uuid1() got an unexpected keyword argument 'nodes'"),
        (lambda: kestrand.uuid1(1, node=1), "uuid1() got multiple values for argument 'node'"),
    ],
)
def test_binding_messages(call, message):
    with pytest.raises(TypeError) as caught:
        call()
    assert caught.value.args == (message,)


def test_none_counts_as_not_given():
    first = kestrand.uuid1(None, None)
    second = kestrand.uuid1(node=None, clock_seq=None)
    assert fields(first)[1] == fields(second)[1] == uuid.getnode()
    assert sequence_step(first, second) == 1


def test_uuid_v1mc_takes_no_arguments():
    with pytest.raises(TypeError) as caught:
        kestrand.uuid_v1mc(1)
    assert caught.value.args == ("kestrand.uuid_v1mc() takes no arguments (1 given)",)


# --- the host's getnode() ----------------------------------------------------


def test_a_replaced_getnode_is_picked_up(monkeypatch):
    monkeypatch.setattr(uuid, "getnode", lambda: 0xFEDCBA987654)
    assert kestrand.uuid1().node == 0xFEDCBA987654
    monkeypatch.setattr(uuid, "getnode", lambda: Index((1 << 60) | 0x42))
    assert kestrand.uuid1().node == 0x42


def test_getnode_is_not_asked_when_a_node_is_given(monkeypatch):
    calls = []
    monkeypatch.setattr(uuid, "getnode", lambda: calls.append(1) or 3)
    assert kestrand.uuid1(5).node == 5
    assert kestrand.uuid1(None).node == 3
    assert calls == [1]


class NodeFailure(Exception):
    pass


def _raise_node_failure():
    raise NodeFailure("no node here")


@pytest.mark.parametrize(
    "getnode, error, message",
    [
        (_raise_node_failure, NodeFailure, "no node here"),
        (lambda: "00:11:22:33:44:55", TypeError, "'str' object cannot be interpreted as an integer"),
        (lambda: -1, OverflowError, "can't convert negative int to unsigned"),
        (lambda: 1 << 64, OverflowError, "int too big to convert"),
        (None, TypeError, "'NoneType' object is not callable"),
    ],
)
def test_getnode_failures_propagate_unchanged(monkeypatch, getnode, error, message):
    monkeypatch.setattr(uuid, "getnode", getnode)
    with pytest.raises(error) as caught:
        kestrand.uuid1()
    assert type(caught.value) is error
    assert caught.value.args == (message,)


def test_the_uuid_module_is_whatever_sys_modules_holds_now(monkeypatch):
    fake = types.ModuleType("uuid")
    fake.getnode = lambda: 0x0A0B0C0D0E0F
    monkeypatch.setitem(sys.modules, "uuid", fake)
    assert kestrand.uuid1().node == 0x0A0B0C0D0E0F

    # Not imported (any more): imported afresh, and that module's node is used.
    # Compared with the fresh module's own getnode(), not this one's: without a
    # hardware address to read (containers, chroots) each fresh module picks
    # its own random node.
    monkeypatch.delitem(sys.modules, "uuid")
    node = kestrand.uuid1().node
    fresh = sys.modules["uuid"]
    assert fresh is not uuid
    assert node == fresh.getnode()

    monkeypatch.setitem(sys.modules, "uuid", None)
    with pytest.raises(ImportError):
        kestrand.uuid1()


def test_argument_errors_come_before_getnode(monkeypatch):
    monkeypatch.setattr(uuid, "getnode", _raise_node_failure)
    with pytest.raises(OverflowError):
        kestrand.uuid1(clock_seq=-1)


def test_missing_getnode_raises_attribute_error(monkeypatch):
    monkeypatch.delattr(uuid, "getnode")
    with pytest.raises(AttributeError):
        kestrand.uuid1()


# --- uuid_v1mc ---------------------------------------------------------------


def test_v1mc_nodes_are_random_multicast_addresses():
    values = [kestrand.uuid_v1mc() for _ in range(2000)]
    for value in values:
        assert value.version == 1 and value.variant == uuid.RFC_4122
        assert value.bytes[10] & 1 == 1
    nodes = [value.node for value in values]
    assert len(set(nodes)) == len(nodes)
    assert all(sequence_step(a, b) == 1 for a, b in zip(values, values[1:]))
    # Every other node bit takes both values.
    varying = 0
    for node in nodes:
        varying |= node ^ nodes[0]
    assert varying == 0xFFFFFFFFFFFF & ~0x010000000000


def test_threads_have_generators_of_their_own():
    per_thread = 500
    results: list[list[kestrand.UUID]] = [[] for _ in range(8)]
    start = threading.Barrier(len(results))

    def work(out):
        start.wait()
        out.extend(kestrand.uuid_v1mc() for _ in range(per_thread))

    threads = [threading.Thread(target=work, args=(out,)) for out in results]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    every = [value for out in results for value in out]
    assert len(set(every)) == len(every) == per_thread * len(results)
    nodes = [value.node for value in every]
    assert len(set(nodes)) == len(nodes)
    # The shared sequence hands every call its own clock sequence value.
    assert len({fields(value)[0] for value in every}) == len(every)
