"""Every entry point when the interpreter runs out of memory, at every step.

For each entry point a fresh interpreter repeats the call with
_testcapi.set_nomemory failing its k-th allocation, for k = 0, 1, 2, ...:
once the k-th alone, once every allocation from the k-th on, until the call
no longer allocates that far. Each attempt must give a correct value, raise
MemoryError, or raise PanicException "Python API call failed" (a result
object that must be made could not be). With memory back, the next call must
give a correct value. No reference to the UUID type or to the arguments may
be left behind, and repeating a failure must not leave a memory block. The
child resets the hook before anything else runs, records every outcome and
prints one JSON line when it is done.

The bulk calls run with a few items and with more than a chunk's worth
(CHUNK), so that a failure may land between chunks. With that many items the
positions are sampled: every one near the start, near the end and around each
chunk boundary, and every STRIDE-th in between.
"""

from __future__ import annotations

import pytest

from os_shim import run_program

CHUNK = 4096
BIG = CHUNK + 904  # past one chunk, with a short one after it
STRIDE = 61  # prime, so the sampled positions fall at every offset in a chunk
WINDOW = 24
LIMIT = 200  # positions past which a call that still fails is a fault

# Properties whose value is an int of at most 60 bits: the interpreter may
# hand one out without allocating (small ints always, others from a free
# list from 3.14).
INT_PROPERTIES = [
    "version", "time_low", "time_mid", "time_hi_version", "clock_seq_hi_variant",
    "clock_seq_low", "time", "node",
]
PROPERTIES = ["int", "bytes", "bytes_le", "hex", "urn", "variant", "fields", *INT_PROPERTIES]
COMPARISONS = ["==", "!=", "<", "<=", ">", ">="]
BULK = [
    (f"{function}({n})", f"kestrand.{function}({n})", f"made_bulk(r, before, {n}, {version})")
    for function, version in [
        ("uuid4_bulk", 4), ("uuid7_bulk", 7), ("uuid4_as_strings_bulk", 4), ("uuid7_as_strings_bulk", 7),
    ]
    for n in (3, BIG)
]

# (name, expression, check). The check is a Python expression over `r`, the
# outcome (a value, or the exception raised), and `before`, the outcome of
# the same expression made just before the failures began. The names it uses
# are those of CHILD: `u` and its standard-library twin `s` hold TEXT, `v` is
# the next value.
ENTRY_POINTS = [
    # The generators.
    ("uuid1()", "kestrand.uuid1()", "made(r, 1) and r.node == std.getnode()"),
    ("uuid1(node, clock_seq)", "kestrand.uuid1(0x0123456789AB, 0x2A5A)",
     "made(r, 1) and r.node == 0x0123456789AB and r.fields[3:5] == (0xAA, 0x5A)"),
    ("uuid_v1mc()", "kestrand.uuid_v1mc()", "made(r, 1) and r.node & 0x010000000000"),
    ("uuid3()", "kestrand.uuid3(NS, NAME)",
     "same(r, before) and r.hex == std.uuid3(std.NAMESPACE_DNS, NAME).hex"),
    ("uuid5()", "kestrand.uuid5(NS, NAME)",
     "same(r, before) and r.hex == std.uuid5(std.NAMESPACE_DNS, NAME).hex"),
    ("uuid4()", "kestrand.uuid4()", "made(r, 4) and r != before"),
    ("uuid7()", "kestrand.uuid7()", "made(r, 7) and r > before"),
    *BULK,
    # The constructor, each form, and a subclass (allocated through its own slot).
    ("UUID(hex)", "UUID(TEXT)", "same(r, before) and r.hex == s.hex"),
    ("UUID(urn)", "UUID('urn:uuid:' + TEXT)", "same(r, before) and r.hex == s.hex"),
    ("UUID(bytes=)", "UUID(bytes=s.bytes)", "same(r, before) and r.hex == s.hex"),
    ("UUID(bytes_le=)", "UUID(bytes_le=s.bytes_le)", "same(r, before) and r.hex == s.hex"),
    ("UUID(fields=)", "UUID(fields=s.fields)", "same(r, before) and r.hex == s.hex"),
    ("UUID(int=)", "UUID(int=s.int)", "same(r, before) and r.hex == s.hex"),
    ("UUID(bytes=, version=)", "UUID(bytes=s.bytes, version=4)",
     "same(r, before) and r.hex == std.UUID(bytes=s.bytes, version=4).hex"),
    ("UUID(int=, version=)", "UUID(int=s.int, version=4)", "same(r, before)"),
    ("Sub(hex)", "Sub(TEXT)", "type(r) is Sub and r == u"),
    # Errors, whose messages are made as they are raised.
    ("UUID(bad hex)", "UUID('zz')", "same(r, before) and isinstance(r, ValueError)"),
    ("UUID(non-ASCII)", "UUID('\\u00e9' * 32)", "same(r, before) and isinstance(r, ValueError)"),
    ("UUID(unknown keyword)", "UUID(x=1)", "same(r, before) and isinstance(r, TypeError)"),
    ("uuid1(bad node)", "kestrand.uuid1('x')", "same(r, before) and isinstance(r, TypeError)"),
    ("uuid4_bulk(-1)", "kestrand.uuid4_bulk(-1)",
     "same(r, before) and isinstance(r, OverflowError)"),
    # Text forms and int().
    ("str()", "str(u)", "r == str(s)"),
    ("repr()", "repr(u)", "r == repr(s)"),
    ("int()", "int(u)", "r == int(s)"),
    # The properties.
    *[(f"UUID.{name}", f"u.{name}", f"r == s.{name}") for name in PROPERTIES],
    # hash() and the comparisons, with a UUID and with another type.
    ("hash()", "hash(u)", "r == before == hash(UUID(TEXT))"),
    *[(f"u {op} v", f"u {op} v", f"r is (s.int {op} s.int + 1)") for op in COMPARISONS],
    ("u == stdlib UUID", "u == s", "r is False"),
    # Pickling and copying.
    ("pickle.dumps()", "pickle.dumps(u)", "same(r, before) and pickle.loads(r) == u"),
    ("pickle.dumps(protocol=2)", "pickle.dumps(u, 2)", "same(r, before) and pickle.loads(r) == u"),
    ("pickle.loads()", "pickle.loads(PICKLED)", "same(r, before) and r == u"),
    ("__reduce__()", "u.__reduce__()", "same(r, before)"),
    ("__reduce_ex__(2)", "u.__reduce_ex__(2)", "same(r, before)"),
    ("__getstate__()", "u.__getstate__()", "r == s.bytes"),
    ("__setstate__()", "restored(s.bytes)", "type(r) is UUID and r == u"),
    ("__getnewargs__()", "u.__getnewargs__()", "r == (None, None, None, None, 0, None)"),
    ("copy.copy()", "copy.copy(u)", "type(r) is UUID and r == u"),
    ("copy.deepcopy()", "copy.deepcopy(u)", "type(r) is UUID and r == u"),
    ("copy.copy(subclass)", "copy.copy(SUB)", "type(r) is UUID and r == u"),
    ("__deepcopy__()", "u.__deepcopy__({})", "type(r) is UUID and r == u"),
]

# Entry points that may allocate nothing: True, False, a tuple made once, or
# one of INT_PROPERTIES. Every other one must meet the failures.
MAY_NOT_ALLOCATE = {
    *(f"UUID.{name}" for name in INT_PROPERTIES),
    *(f"u {op} v" for op in COMPARISONS), "u == stdlib UUID", "__getnewargs__()",
}

# Entry points that go through the interpreter's pickling machinery, which
# itself keeps memory blocks when its allocations fail (pickling the standard
# library's UUID or a datetime.date shows the same): for these only the
# references are counted, not the blocks.
INTERPRETER_KEEPS_BLOCKS = {
    "pickle.dumps()", "pickle.dumps(protocol=2)", "pickle.loads()", "__reduce__()",
}

# Entry points that make a str, bytes, int, tuple or list of their own: these
# must be made, so running out of memory there is PanicException. Everywhere
# else it is MemoryError.
MUST_MAKE_RESULT = {
    *(name for name, _, _ in BULK),
    "str()", "repr()", "int()",
    *(f"UUID.{name}" for name in PROPERTIES),
    "__getstate__()", "__reduce_ex__(2)", "pickle.dumps()", "pickle.dumps(protocol=2)",
    "uuid1(bad node)",  # the message naming the argument
}

CHILD = r'''
import array, copy, gc, pickle, sys
import uuid as std
import _testcapi
from kestrand import UUID

TEXT = "a8098c1a-f86e-11da-bd1a-00112444be1e"
u, s = UUID(TEXT), std.UUID(TEXT)
v = UUID(int=s.int + 1)
NS, NAME = UUID(str(std.NAMESPACE_DNS)), b"kestrand.example"
PICKLED = pickle.dumps(u)
PANIC = "pyo3_runtime.PanicException"


class Sub(UUID):
    pass


SUB = Sub(TEXT)


def made(r, version):
    return type(r) is UUID and r.version == version and r.variant == std.RFC_4122


def made_bulk(r, before, n, version):
    """n distinct fresh values; version 7 strictly increasing after `before`."""
    if type(r) is not list or len(r) != n:
        return False
    strings = type(before[0]) is str
    if any(type(x) is not (str if strings else UUID) for x in r):
        return False
    values = [std.UUID(x) if strings else x for x in r]
    if strings and any(len(x) != 32 or x != x.lower() for x in r):
        return False
    if not all(made(UUID(int=x.int), version) for x in values):
        return False
    if version == 7:
        last = std.UUID(before[-1]) if strings else before[-1]
        return all(a.int < b.int for a, b in zip([last] + values, values))
    return len({x.int for x in values}) == n


def same(r, before):
    if isinstance(before, BaseException):
        return type(r) is type(before) and r.args == before.args
    return type(r) is type(before) and r == before


def restored(state):
    fresh = UUID(int=0)
    fresh.__setstate__(state)
    return fresh


def open_window(start, stop, frame):
    if start is not None:
        _testcapi.set_nomemory(start, stop)


# The call's own frame and that of run() are made before any allocation
# fails: when an error leaves a frame, the interpreter makes the frame object
# of the one below it, and if that allocation fails it loses the error in
# flight (it clears the MemoryError that replaced it), returning NULL with no
# exception set. Made beforehand, no such allocation happens.
call = eval("lambda start, stop: open_window(start, stop, sys._getframe()) or " + PARAMS["expr"])
check = eval("lambda r, before: " + PARAMS["check"])


def run(start=None, stop=0):
    """The outcome of the call with the allocations from start to stop failing
    (to the end if stop is 0), or none."""
    sys._getframe()
    drain = kestrand.uuid4_bulk(1000)  # empties the free list: every UUID is allocated
    try:
        try:
            result = call(start, stop)
        finally:
            _testcapi.remove_mem_hooks()
    except BaseException as error:
        result = error
        # Drop the frames that the error and the errors chained to it keep
        # alive: the interpreter's last MemoryError is never freed.
        chained = error
        while chained is not None:
            following = chained.__context__
            chained.__traceback__ = chained.__context__ = chained.__cause__ = None
            chained = following
    del drain
    # The interpreter's printing of a failed result keeps the error here.
    for name in ("last_exc", "last_type", "last_value", "last_traceback"):
        if hasattr(sys, name):
            setattr(sys, name, None)
    return result


def name_of(outcome):
    kind = type(outcome)
    return f"{kind.__module__}.{kind.__qualname__}"


DENSE = 64  # positions tried one by one from the start, and checked for blocks


def positions():
    k = 0
    while True:
        yield k
        near = k < DENSE or any(abs(k - mark) < PARAMS["window"] for mark in PARAMS["marks"])
        k += 1 if near else PARAMS["stride"]


gc.disable()
# The module prints a result it could not make through the interpreter's
# excepthook; from 3.13 the default one keeps a memory block at each use.
sys.excepthook = lambda kind, value, traceback: None
first = run()
before = run()
assert check(before, first), f"the call fails with memory to spare: {before!r}"
del first
watched = {"UUID": UUID, "Sub": Sub, "u": u, "v": v, "NS": NS, "NAME": NAME,
           "TEXT": TEXT, "PICKLED": PICKLED, "SUB": SUB}
counts = {name: sys.getrefcount(obj) for name, obj in watched.items()}

outcomes, problems, ended, tried = {}, [], False, 0
for k in positions():
    if k > PARAMS["limit"]:
        break
    tried += 1
    for stop in (k + 1, 0):
        outcome = run(k, stop)
        kind = name_of(outcome)
        if kind == "builtins.MemoryError":
            pass
        elif kind == PANIC and outcome.args == ("Python API call failed",):
            kind = "PanicException: Python API call failed"
        elif check(outcome, before):
            kind = "value"
            ended = ended or stop == 0
        else:
            problems.append(f"k={k} stop={stop}: {kind} {outcome!r}"[:300])
        outcomes[kind] = outcomes.get(kind, 0) + 1
        del outcome
        after = run()
        if not check(after, before):
            problems.append(f"after k={k} stop={stop}: {name_of(after)} {after!r}"[:300])
        del after
    if ended:
        break

last = k
leaks = {name: [counts[name], sys.getrefcount(obj)] for name, obj in watched.items()
         if sys.getrefcount(obj) != counts[name]}

# Anything else a failed call leaves behind. The same failure takes the same
# path each time, so what it leaks, it leaks at every repetition: once the
# interpreter's caches are warm, REPEATS repetitions must not add REPEATS
# blocks. (A cache that takes one more block on a later pass, as 3.15's do,
# is not a leak.) The counts go in an array: an int holding one would be a
# block itself.
REPEATS = 4
blocks = array.array("q", [0, 0])
for k in range(min(last, DENSE) if PARAMS["count_blocks"] else 0):
    for _ in range(2):
        run(k, k + 1)
    blocks[0] = sys.getallocatedblocks()
    for _ in range(REPEATS):
        run(k, k + 1)
    blocks[1] = sys.getallocatedblocks()
    if blocks[1] - blocks[0] >= REPEATS:
        leaks[f"memory blocks, failing at k={k}"] = list(blocks)
report({"tried": tried, "last": last, "ended": ended, "outcomes": outcomes,
        "problems": problems[:20], "leaks": leaks})
'''


try:
    import _testcapi
except ImportError:
    _testcapi = None

pytestmark = pytest.mark.skipif(
    not hasattr(_testcapi, "set_nomemory"),
    reason="this interpreter has no _testcapi.set_nomemory to fail its allocations",
)


@pytest.mark.parametrize("name, expr, check", ENTRY_POINTS, ids=[e[0] for e in ENTRY_POINTS])
def test_allocation_failure_at_every_step(name, expr, check):
    big = str(BIG) in expr
    params = {
        "expr": expr,
        "check": check,
        "limit": BIG + LIMIT if big else LIMIT,
        "stride": STRIDE if big else 1,
        "window": WINDOW,
        "marks": [CHUNK, BIG] if big else [],
        "count_blocks": name not in INTERPRETER_KEEPS_BLOCKS,
    }
    result, _ = run_program(CHILD, params, "", {})
    assert result["problems"] == [], result
    assert result["leaks"] == {}, result
    assert result["ended"], f"still failing at k={result['last']}: {result}"
    assert result["tried"] > 1 or name in MAY_NOT_ALLOCATE, result
    if "PanicException: Python API call failed" in result["outcomes"]:
        assert name in MUST_MAKE_RESULT, result
