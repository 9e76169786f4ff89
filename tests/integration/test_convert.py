"""Converting to and from the standard library's UUID is exact, and the fast
road gives an object that nothing can tell from the constructor's."""

import copy
import pickle
import subprocess
import sys
import uuid
import weakref

import kestrand
import pytest

import recipes

cv = recipes.run("convert")

VALUES = [0, 1, 2**64 - 1, 2**64, 2**127, 2**128 - 1] + [int(kestrand.uuid4()) for _ in range(20)]


def test_this_python_has_the_layout_the_fast_road_needs():
    # When this fails, a new Python changed uuid.UUID: the recipe already falls
    # back to the constructor there, and the check in it says what changed.
    assert cv.FAST, f"uuid.UUID changed on Python {sys.version.split()[0]}: {cv.LAYOUT_PROBLEM}"


@pytest.mark.parametrize("n", VALUES)
def test_round_trip_keeps_every_bit(n):
    u = kestrand.UUID(int=n)
    std = cv.to_std(u)
    assert type(std) is uuid.UUID and std == uuid.UUID(int=n)
    assert (str(std), std.bytes, std.variant) == (str(u), u.bytes, u.variant)
    back = cv.from_std(std)
    assert type(back) is kestrand.UUID and back == u


def test_indistinguishable_from_the_constructors_object():
    keys = [kestrand.UUID(int=n) for n in VALUES]
    made = [cv.to_std(u) for u in keys]
    real = [uuid.UUID(int=u.int) for u in keys]
    for m, r in zip(made, real):
        assert type(m) is uuid.UUID
        assert m == r and not (m != r) and hash(m) == hash(r)
        assert (str(m), repr(m), m.int, m.hex, m.urn) == (str(r), repr(r), r.int, r.hex, r.urn)
        assert m.is_safe is r.is_safe is uuid.SafeUUID.unknown
        for proto in range(pickle.HIGHEST_PROTOCOL + 1):
            assert pickle.dumps(m, proto) == pickle.dumps(r, proto)
            assert pickle.loads(pickle.dumps(r, proto)) == m
        for twin in (copy.copy(m), copy.deepcopy(m)):
            assert type(twin) is uuid.UUID and twin == r and twin.is_safe is r.is_safe
        ref = weakref.ref(m)
        assert ref() is m
    assert sorted(made) == sorted(real)
    assert [made.index(x) for x in sorted(made)] == [real.index(x) for x in sorted(real)]
    assert {*made} == {*real} and len({*made, *real}) == len(real)


def test_pickles_load_in_a_process_that_never_imported_kestrand():
    made = [cv.to_std(kestrand.UUID(int=n)) for n in VALUES]
    child = (
        "import pickle, sys, uuid\n"
        "made = pickle.load(sys.stdin.buffer)\n"
        "assert 'kestrand' not in sys.modules\n"
        "assert all(type(m) is uuid.UUID and m.is_safe is uuid.SafeUUID.unknown for m in made)\n"
        "assert made == [uuid.UUID(int=m.int) for m in made]\n"
        "sys.stdout.buffer.write(pickle.dumps(made))\n"
    )
    done = subprocess.run([sys.executable, "-c", child], input=pickle.dumps(made), capture_output=True, check=False)
    assert done.returncode == 0, done.stderr.decode()
    assert pickle.loads(done.stdout) == made


def test_the_bulk_road_and_the_one_call_makers():
    keys = kestrand.uuid7_bulk(1000)
    std = cv.to_std_list(keys)
    assert std == [uuid.UUID(int=u.int) for u in keys] and std == sorted(std)
    assert all(type(s) is uuid.UUID for s in std)
    for make, version in ((cv.std_uuid4, 4), (cv.std_uuid7, 7)):
        s = make()
        assert type(s) is uuid.UUID and s.version == version and s.is_safe is uuid.SafeUUID.unknown
    assert cv.std_uuid7() < cv.std_uuid7()


@pytest.mark.parametrize(
    "wrong",
    [
        lambda u: uuid.UUID(int=u.int ^ 1),
        lambda u: uuid.UUID(int=u.int, is_safe=uuid.SafeUUID.safe),
    ],
    ids=["value", "is_safe"],
)
def test_the_probe_catches_a_wrong_build(wrong):
    assert "differs" in cv._probe_problem(wrong)
    assert cv._probe_problem(cv.to_std) is None


def test_a_changed_layout_falls_back_to_the_constructor(monkeypatch):
    monkeypatch.setattr(uuid.UUID, "__slots__", ("int", "is_safe", "node_cache", "__weakref__"), raising=False)
    fallback = recipes.run("convert")
    assert not fallback.FAST and "__slots__" in fallback.LAYOUT_PROBLEM
    keys = kestrand.uuid7_bulk(3)
    assert fallback.to_std_list(keys) == [fallback.to_std(u) for u in keys] == [uuid.UUID(int=u.int) for u in keys]
    assert fallback.std_uuid7().version == 7 and fallback.std_uuid4().version == 4
