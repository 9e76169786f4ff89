"""UUID as a value: int(), hash(), equality and ordering."""

import itertools
import operator
import os
import subprocess
import sys
import textwrap
import uuid

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import kestrand
from uuid_cases import CASE_IDS, CASE_INTS, FIXED_CASES, VALUES

UUID = kestrand.UUID
MAX = (1 << 128) - 1

# SipHash-1-3 with a zero key over the 16 bytes.
HASH_REFERENCES = [
    pytest.param(bytes(16), 8556445246977061536, id="nil"),
    pytest.param(b"\xff" * 16, 3819785013809161115, id="all-ones"),
    pytest.param(bytes.fromhex("0123456789abcdef0123456789abcdef"), -377047424113737641, id="pattern"),
]


class Derived(UUID):
    pass


# ---------------------------------------------------------------------------
# int()

@pytest.mark.parametrize("n", CASE_INTS, ids=CASE_IDS)
def test_int_is_the_unsigned_big_endian_reading(n):
    u = UUID(int=n)
    assert type(int(u)) is int
    assert int(u) == n == uuid.UUID(int=n).int
    assert int(u) == u.int
    assert int(UUID(bytes=n.to_bytes(16, "big"))) == n


def test_int_of_all_ones_is_not_negative():
    assert int(UUID(int=MAX)) == 340282366920938463463374607431768211455
    assert int(UUID(int=1 << 127)) == 1 << 127


def test_only_int_conversion_is_provided():
    u = UUID(int=0)
    assert bool(u) is True
    for op, message in [
        (operator.index, "'kestrand.UUID' object cannot be interpreted as an integer"),
        (hex, "'kestrand.UUID' object cannot be interpreted as an integer"),
        (float, "float() argument must be a string or a real number, not 'kestrand.UUID'"),
    ]:
        with pytest.raises(TypeError) as excinfo:
            op(u)
        assert str(excinfo.value) == message
    for name in ("__index__", "__bool__", "__float__"):
        assert name not in vars(UUID)


# ---------------------------------------------------------------------------
# hash()

@pytest.mark.parametrize("raw, expected", HASH_REFERENCES)
def test_hash_reference_values(raw, expected):
    u = UUID(bytes=raw)
    assert hash(u) == expected
    assert hash(Derived(bytes=raw)) == expected
    # Unlike the standard library, the hash is not the hash of the integer.
    assert hash(u) != hash(u.int)
    assert hash(uuid.UUID(bytes=raw)) == hash(u.int)


def test_equal_objects_hash_alike_and_find_each_other():
    for n in CASE_INTS:
        a, b = UUID(int=n), UUID(hex=uuid.UUID(int=n).hex)
        assert a is not b
        assert a == b and hash(a) == hash(b)
        assert hash(a) != -1
    table = {UUID(int=n): n for n in CASE_INTS}
    assert len(table) == len(set(CASE_INTS))
    for n in CASE_INTS:
        assert table[UUID(bytes=n.to_bytes(16, "big"))] == n
        assert table[Derived(int=n)] == n
    assert UUID(int=12345) not in table


def _run(code, seed):
    env = dict(os.environ, PYTHONHASHSEED=str(seed),
               KESTRAND_DIR=os.path.dirname(os.path.abspath(kestrand.__file__)))
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code)],
                          capture_output=True, text=True, env=env, timeout=120)
    assert proc.returncode == 0, proc.stderr
    return proc.stdout


HASHES_OF_CASES = """
import os, random, sys
sys.path.insert(0, os.environ["KESTRAND_DIR"])
import kestrand
values = {values!r}
rng = random.Random(7)
values += [rng.getrandbits(128) for _ in range(2000)]
for n in values:
    u = kestrand.UUID(int=n)
    print(hash(u), hash(u.bytes))
"""


@pytest.mark.skipif(sys.hash_info.algorithm != "siphash13", reason="bytes hash is not SipHash-1-3")
def test_hash_equals_bytes_hash_without_randomisation():
    # With the hash seed 0 the interpreter hashes bytes with SipHash-1-3 under
    # a zero key, which is exactly the UUID hash of the same 16 bytes.
    out = _run(HASHES_OF_CASES.format(values=CASE_INTS), seed=0)
    pairs = [line.split() for line in out.splitlines()]
    assert len(pairs) == len(CASE_INTS) + 2000
    mismatches = [p for p in pairs if p[0] != p[1]]
    assert mismatches == []


def test_hash_does_not_follow_hash_randomisation():
    expected = [hash(UUID(int=n)) for n in CASE_INTS]
    for seed in (1, 4242):
        out = _run(HASHES_OF_CASES.format(values=CASE_INTS), seed=seed)
        ours = [int(line.split()[0]) for line in out.splitlines()][:len(CASE_INTS)]
        assert ours == expected


# ---------------------------------------------------------------------------
# Comparisons between UUIDs follow the unsigned integer view.

ORDER_SAMPLE = [n for _, n in FIXED_CASES] + CASE_INTS[len(FIXED_CASES):][:12]
OPERATORS = [operator.lt, operator.le, operator.eq, operator.ne, operator.gt, operator.ge]


def test_comparisons_agree_with_integer_order():
    for a, b in itertools.product(ORDER_SAMPLE, repeat=2):
        ua, ub = UUID(int=a), UUID(int=b)
        for op in OPERATORS:
            result = op(ua, ub)
            assert result is op(a, b), (hex(a), hex(b), op.__name__)


@pytest.mark.parametrize("smaller, larger", [
    # The order is unsigned and led by byte 0.
    pytest.param(0x7F << 120 | ((1 << 120) - 1), 0x80 << 120, id="unsigned-first-byte"),
    # The high halves decide even when the low half of the smaller is larger.
    pytest.param(MAX >> 64, 1 << 64, id="high-half-decides"),
    pytest.param(1, 1 << 64, id="one-below-two-pow-64"),
    pytest.param((1 << 64) | 0xFF, (1 << 64) | 0x100, id="low-half-decides"),
    pytest.param(MAX - 1, MAX, id="top"),
    pytest.param(0, 1, id="bottom"),
])
def test_order_edges(smaller, larger):
    a, b = UUID(int=smaller), UUID(int=larger)
    assert a < b and a <= b and b > a and b >= a and a != b
    assert not (a > b or a >= b or b < a or b <= a or a == b)


def test_sorting_matches_integer_sorting():
    values = [UUID(int=n) for n in CASE_INTS]
    assert [u.int for u in sorted(values)] == sorted(CASE_INTS)
    assert [u.bytes for u in sorted(values)] == sorted(u.bytes for u in values)


def test_subclass_instances_compare_by_value():
    assert Derived(int=5) == UUID(int=5)
    assert UUID(int=5) == Derived(int=5)
    assert Derived(int=4) < UUID(int=5) < Derived(int=6)
    assert Derived(int=5) != Derived(int=6)


def test_self_comparison():
    u = UUID(int=0x1234)
    assert u == u and u <= u and u >= u
    assert not (u != u or u < u or u > u)


# ---------------------------------------------------------------------------
# Foreign operands: the comparison declines and the interpreter decides.

def test_never_equal_to_other_types_of_the_same_value():
    u = UUID(int=0x00112233445566778899AABBCCDDEEFF)
    for other in (str(u), u.hex, int(u), u.bytes, u.fields, None,
                  uuid.UUID(int=u.int)):
        assert (u == other) is False
        assert (other == u) is False
        assert (u != other) is True
        assert u.__eq__(other) is NotImplemented
        assert u.__ne__(other) is NotImplemented


@pytest.mark.parametrize("symbol, op", [("<", operator.lt), ("<=", operator.le),
                                        (">", operator.gt), (">=", operator.ge)])
@pytest.mark.parametrize("other, type_name", [(0, "int"), ("x", "str"), (None, "NoneType")])
def test_ordering_against_other_types_is_refused(symbol, op, other, type_name):
    u = UUID(int=1)
    with pytest.raises(TypeError) as excinfo:
        op(u, other)
    assert str(excinfo.value) == (
        f"'{symbol}' not supported between instances of 'kestrand.UUID' and '{type_name}'")
    assert getattr(u, f"__{op.__name__}__")(other) is NotImplemented


def test_foreign_operand_gets_the_reflected_call():
    class Accepting:
        def __eq__(self, other):
            return "eq-reflected"

        def __gt__(self, other):
            return "gt-reflected"

    u = UUID(int=1)
    assert (u == Accepting()) == "eq-reflected"
    assert (u < Accepting()) == "gt-reflected"


def test_uuid_and_standard_library_uuid_are_not_comparable():
    ours, theirs = UUID(int=7), uuid.UUID(int=7)
    assert ours != theirs
    with pytest.raises(TypeError) as excinfo:
        ours < theirs
    assert str(excinfo.value) == "'<' not supported between instances of 'kestrand.UUID' and 'UUID'"


@given(a=VALUES, b=VALUES)
def test_ordering_is_the_ordering_of_int(a, b):
    x, y = UUID(int=a), Derived(int=b)
    for op in OPERATORS:
        assert op(x, y) is op(a, b), op
        assert op(y, x) is op(b, a), op
    assert (hash(x) == hash(y)) or a != b


HASHES_OF = """
import os, sys
sys.path.insert(0, os.environ["KESTRAND_DIR"])
import kestrand
for n in {values!r}:
    print(hash(kestrand.UUID(int=n)))
"""


# Each example starts an interpreter, so fewer examples with more values each.
@settings(max_examples=10)
@given(values=st.lists(VALUES, min_size=1, max_size=64), seed=st.integers(0, 2**32 - 1))
def test_hash_is_the_same_in_a_fresh_process(values, seed):
    out = _run(HASHES_OF.format(values=values), seed=seed)
    assert [int(line) for line in out.splitlines()] == [hash(UUID(int=n)) for n in values]
