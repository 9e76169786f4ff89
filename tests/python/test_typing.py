"""The type stubs shipped in kestrand-stubs: found by mypy, accurate, complete.

mypy runs as a subprocess of the interpreter under test, from a temporary
directory, so it must find the stubs where `pip install .` put them, next to
the extension in site-packages, and not in this source tree.
"""

from __future__ import annotations

import importlib.util
import re
import subprocess
import sys
from pathlib import Path

import pytest

if importlib.util.find_spec("mypy") is None:
    pytest.skip("mypy is not installed", allow_module_level=True)

kestrand = pytest.importorskip("kestrand")

GOOD_PROGRAM = """\
import copy
import pickle
from typing import assert_type

import kestrand
from kestrand import UUID

u = kestrand.uuid4()
assert_type(u, UUID)
assert_type(kestrand.uuid7(), UUID)
assert_type(kestrand.uuid4_bulk(3), list[UUID])
assert_type(kestrand.uuid7_bulk(n=3), list[UUID])
assert_type(kestrand.uuid4_as_strings_bulk(3), list[str])
assert_type(kestrand.uuid7_as_strings_bulk(True), list[str])
assert_type(kestrand.uuid1(), UUID)
assert_type(kestrand.uuid1(0x123456789ABC, clock_seq=5), UUID)
assert_type(kestrand.uuid1(node=None, clock_seq=None), UUID)
assert_type(kestrand.uuid_v1mc(), UUID)
assert_type(kestrand.uuid3(u, b"python.org"), UUID)
assert_type(kestrand.uuid5(namespace=u, name=b""), UUID)

# Every constructor form, by keyword and by position.
v = UUID("6ba7b810-9dad-11d1-80b4-00c04fd430c8")
assert_type(UUID(hex=v.hex), UUID)
assert_type(UUID(bytes=v.bytes, version=4), UUID)
assert_type(UUID(bytes_le=v.bytes_le), UUID)
assert_type(UUID(fields=v.fields), UUID)
assert_type(UUID(int=v.int), UUID)
assert_type(UUID(None, None, None, None, 0, None), UUID)

# Properties keep their exact types; version is never Optional.
assert_type(u.int, int)
assert_type(u.bytes, bytes)
assert_type(u.bytes_le, bytes)
assert_type(u.hex, str)
assert_type(u.urn, str)
assert_type(u.version, int)
assert_type(u.variant, str)
assert_type(u.fields, tuple[int, int, int, int, int, int])
assert_type(u.time_low, int)
assert_type(u.time_mid, int)
assert_type(u.time_hi_version, int)
assert_type(u.clock_seq_hi_variant, int)
assert_type(u.clock_seq_low, int)
assert_type(u.time, int)
assert_type(u.node, int)
version_plus_one: int = u.version + 1

# Value protocol.
assert_type(str(u), str)
assert_type(repr(u), str)
assert_type(int(u), int)
assert_type(hash(u), int)
assert_type(u < v, bool)
assert_type(u >= v, bool)
assert_type(u == "not a uuid", bool)
ordered: list[UUID] = sorted(kestrand.uuid7_bulk(5))
by_id: dict[UUID, str] = {u: "first", v: "second"}

# Pickling and copying: copies are plain UUIDs even for subclasses.
assert_type(u.__getstate__(), bytes)
u.__setstate__(bytes(16))
assert_type(u.__getnewargs__(), tuple[None, None, None, None, int, None])
restored: UUID = pickle.loads(pickle.dumps(u))
assert_type(copy.copy(u), UUID)
assert_type(copy.deepcopy(u), UUID)
assert_type(u.__deepcopy__({}), UUID)


class Tagged(UUID):
    pass


t = Tagged(int=1)
assert_type(t, Tagged)
assert_type(t.__copy__(), UUID)

from kestrand import *  # noqa: E402,F403

assert_type(uuid7(), UUID)
"""

# Each faulty line carries the mypy error code it must produce.
BAD_PROGRAM = """\
import kestrand

u = kestrand.uuid4()
kestrand.uuid4_bulk("3")  # E: arg-type
kestrand.uuid4(1)  # E: call-arg
kestrand.UUID(hex=b"00")  # E: arg-type
kestrand.UUID(fields=(1, 2, 3))  # E: arg-type
kestrand.UUID(colour=1)  # E: call-arg
u.version = 4  # E: misc
u.clock_seq  # E: attr-defined
u.is_safe  # E: attr-defined
text: str = u.int  # E: assignment
maybe: None = u.version  # E: assignment
u < 1  # E: operator
strings: list[kestrand.UUID] = kestrand.uuid4_as_strings_bulk(2)  # E: assignment
u.__setstate__(bytes(16), 1)  # E: call-arg
kestrand.uuid5(u, "python.org")  # E: arg-type
kestrand.uuid3("6ba7b810-9dad-11d1-80b4-00c04fd430c8", b"x")  # E: arg-type
kestrand.uuid1(node="00:11:22:33:44:55")  # E: arg-type
kestrand.uuid_v1mc(1)  # E: call-arg
"""

ERROR_LINE = re.compile(r"^(?P<file>[^:]+):(?P<line>\d+): error: .*\[(?P<code>[a-z-]+)\]$")


def run_mypy(tmp_path: Path, *args: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--cache-dir", str(tmp_path / ".mypy_cache"), *args],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=600,
    )


def expected_errors(source: str) -> set[tuple[int, str]]:
    found = set()
    for number, line in enumerate(source.splitlines(), start=1):
        marker = re.search(r"# E: ([a-z-]+)$", line)
        if marker:
            found.add((number, marker.group(1)))
    return found


def test_correct_program_type_checks_strictly(tmp_path: Path) -> None:
    (tmp_path / "good.py").write_text(GOOD_PROGRAM)
    result = run_mypy(tmp_path, "--strict", "--show-error-codes", "good.py")
    assert result.returncode == 0, result.stdout + result.stderr
    assert "Success" in result.stdout


def test_misuse_is_reported_on_each_faulty_line(tmp_path: Path) -> None:
    (tmp_path / "bad.py").write_text(BAD_PROGRAM)
    result = run_mypy(tmp_path, "--show-error-codes", "--no-error-summary", "bad.py")
    assert result.returncode == 1, result.stdout + result.stderr
    reported = set()
    for line in result.stdout.splitlines():
        match = ERROR_LINE.match(line)
        if match:
            reported.add((int(match["line"]), match["code"]))
    assert reported == expected_errors(BAD_PROGRAM), result.stdout


def test_stubs_match_the_runtime_module(tmp_path: Path) -> None:
    # stubtest imports the extension and compares every name, signature and
    # property with the stubs, so a function added to the module without a
    # stub (or a stub for something the module lacks) fails here.
    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "kestrand"],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=600,
    )
    assert result.returncode == 0, (result.stdout + result.stderr)[-4000:]
