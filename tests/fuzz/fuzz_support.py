"""What the fuzz targets share: hostile argument values decoded from the
fuzzer's bytes, and the checks every kestrand result must pass.

A failed check raises AssertionError, which atheris reports as a crash and
saves the input for; the sanitizers in the fuzzing build catch memory faults
and undefined behaviour in the module itself.
"""

from __future__ import annotations

import operator
import re
import shlex
import sys
import uuid

import atheris

import kestrand

UUID = kestrand.UUID
MAX = (1 << 128) - 1
HEX_GROUPS = r"[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}"
# The four spellings UUID(hex=...) accepts, written independently of the parser.
ACCEPTED_HEX = re.compile(rf"[0-9a-fA-F]{{32}}|{HEX_GROUPS}|\{{{HEX_GROUPS}\}}|urn:uuid:{HEX_GROUPS}")

# The module's own ValueError messages; any other ValueError is a fault.
VALUE_ERRORS = {
    "illegal version number",
    "badly formed hexadecimal UUID string",
    "bytes is not a 16-char string",
    "bytes_le is not a 16-char string",
    "fields is not a 6-tuple",
    "field 1 out of range (need a 32-bit value)",
    "field 2 out of range (need a 16-bit value)",
    "field 3 out of range (need a 16-bit value)",
    "field 4 out of range (need a 8-bit value)",
    "field 5 out of range (need a 8-bit value)",
    "field 6 out of range (need a 48-bit value)",
}
OUT_OF_RANGE = "out of range integral type conversion attempted"


class Planted(Exception):
    """Raised by the harness's own hostile objects; must come out unchanged."""


class Sub(UUID):
    pass


class BytesSub(bytes):
    pass


class LyingBytes(bytes):
    """A bytes subclass whose length protocol reports 16 whatever it holds."""

    def __len__(self):
        return 16


class RaisingLen(bytes):
    def __len__(self):
        raise Planted("__len__")


class IntSub(int):
    pass


class StrSub(str):
    pass


class TupleSub(tuple):
    pass


class Index:
    """An object with __index__: returns `result`, or raises it if it is an exception."""

    def __init__(self, result):
        self.result = result

    def __index__(self):
        if isinstance(self.result, BaseException):
            raise self.result
        return self.result

    def __repr__(self):
        return f"Index({self.result!r})"


def panic_type():
    """PanicException is not a module attribute; take it from a documented panic."""
    try:
        kestrand.uuid4_bulk(1 << 59)
    except BaseException as e:  # noqa: BLE001 - that is the point
        return type(e)
    raise AssertionError("uuid4_bulk(2**59) did not raise")


PanicException = panic_type()
# A fixed set of values to draw from, so the fuzzer reaches each class quickly.
INTERESTING_INTS = [0, 1, 2, 5, 6, 15, 16, 255, 256, 65535, 65536, (1 << 31) - 1, 1 << 31,
                    (1 << 32) - 1, 1 << 32, (1 << 48) - 1, 1 << 48, (1 << 63) - 1, 1 << 63,
                    (1 << 64) - 1, 1 << 64, MAX, MAX + 1, -1, -(1 << 63), -(1 << 64)]


class Values:
    """Decodes argument values of every kind from a FuzzedDataProvider."""

    def __init__(self, fdp):
        self.fdp = fdp

    def flag(self):
        return self.fdp.ConsumeBool()

    def pick(self, options):
        return options[self.fdp.ConsumeIntInRange(0, len(options) - 1)]

    def integer(self):
        if self.flag():
            return self.pick(INTERESTING_INTS) + self.fdp.ConsumeIntInRange(-2, 2)
        return self.fdp.ConsumeInt(self.fdp.ConsumeIntInRange(1, 20))

    def raw16(self):
        return self.fdp.ConsumeBytes(16).ljust(16, b"\0")

    def hex_text(self):
        """A spelling of a value, often one of the accepted four, then perhaps damaged."""
        digits = self.raw16().hex()
        if self.flag():
            digits = "".join(c.upper() if self.flag() else c for c in digits)
        grouped = f"{digits[:8]}-{digits[8:12]}-{digits[12:16]}-{digits[16:20]}-{digits[20:]}"
        text = self.pick([digits, grouped, "{" + grouped + "}", "urn:uuid:" + grouped,
                          "URN:UUID:" + grouped, "{" + digits + "}", "urn:uuid:" + digits,
                          grouped.replace("-", "_"), " " + grouped, "0x" + digits[2:]])
        for _ in range(self.fdp.ConsumeIntInRange(0, 2)):
            if not text:
                break
            at = self.fdp.ConsumeIntInRange(0, len(text) - 1)
            action = self.fdp.ConsumeIntInRange(0, 2)
            char = chr(self.fdp.ConsumeIntInRange(0, 0x10FFFF))
            if action == 0:
                text = text[:at] + char + text[at + 1 :]
            elif action == 1:
                text = text[:at] + char + text[at:]
            else:
                text = text[:at] + text[at + 1 :]
        return text

    def byte_string(self):
        size = 16 if self.flag() else self.fdp.ConsumeIntInRange(0, 40)
        return self.fdp.ConsumeBytes(size)

    def value(self, depth=0):
        """Any argument value: the right type most of the time, hostile otherwise."""
        kind = self.fdp.ConsumeIntInRange(0, 24)
        if kind == 0:
            return None
        if kind in (1, 2):
            return self.integer()
        if kind == 3:
            return self.flag()
        if kind == 4:
            return self.fdp.ConsumeUnicode(self.fdp.ConsumeIntInRange(0, 48))
        if kind in (5, 6):
            return self.hex_text()
        if kind == 7:
            return StrSub(self.hex_text())
        if kind in (8, 9):
            return self.byte_string()
        if kind == 10:
            return bytearray(self.byte_string())
        if kind == 11:
            return BytesSub(self.byte_string())
        if kind == 12:
            return LyingBytes(self.byte_string())
        if kind == 13:
            return RaisingLen(self.raw16())
        if kind in (14, 15) and depth == 0:
            items = [self.value(1) if self.flag() else self.integer()
                     for _ in range(self.fdp.ConsumeIntInRange(0, 7))]
            return TupleSub(items) if kind == 15 else tuple(items)
        if kind == 16 and depth == 0:
            return [self.integer() for _ in range(self.fdp.ConsumeIntInRange(0, 7))]
        if kind == 17:
            return Index(self.integer())
        if kind == 18:
            return Index(self.pick([Planted("__index__"), "1", 1.0, None, TypeError("index")]))
        if kind == 19:
            return IntSub(self.integer())
        if kind == 20:
            return float(self.integer()) if self.flag() else float("nan")
        if kind == 21:
            return UUID(bytes=self.raw16())
        if kind == 22:
            return Sub(bytes=self.raw16())
        if kind == 23:
            return uuid.UUID(bytes=self.raw16())
        return memoryview(self.raw16())


def stdlib_view(u):
    return uuid.UUID(int=u.int)


def check_uuid(u, cls=UUID):
    """Every view of u agrees with the others, round-trips into an equal UUID,
    and matches the standard library's view of the same value."""
    assert type(u) is cls, (type(u), cls)
    n = u.int
    assert 0 <= n <= MAX and int(u) == n
    ref = stdlib_view(u)
    assert str(u) == str(ref) and u.hex == ref.hex and u.urn == ref.urn, u
    assert repr(u) == f"UUID('{ref}')"
    assert u.bytes == ref.bytes and u.bytes_le == ref.bytes_le
    assert u.fields == ref.fields and u.node == ref.node
    assert (u.time_low, u.time_mid, u.time_hi_version) == ref.fields[:3]
    assert (u.clock_seq_hi_variant, u.clock_seq_low) == ref.fields[3:5]
    assert u.variant == ref.variant
    assert u.version == (u.bytes[6] >> 4)
    if ref.version is not None:
        assert u.version == ref.version
    rfc = ref.variant == uuid.RFC_4122
    if not (rfc and u.version in (6, 7)):
        # The standard library of 3.12 reads every value in the version 1 layout.
        assert u.time == (ref.fields[2] & 0x0FFF) << 48 | ref.fields[1] << 32 | ref.fields[0]
    for again in (UUID(str(u)), UUID(u.hex), UUID(u.urn), UUID("{" + str(u) + "}"),
                  UUID(bytes=u.bytes), UUID(bytes_le=u.bytes_le), UUID(fields=u.fields),
                  UUID(int=n), UUID(u.hex.upper())):
        assert type(again) is UUID and again == u and hash(again) == hash(u)
        assert not (again != u) and again <= u and again >= u


def check_exception(e, allowed=(TypeError, ValueError, OverflowError, Planted)):
    """Only documented exception types escape, ValueErrors with the module's own texts."""
    assert isinstance(e, allowed), repr(e)
    if type(e) is ValueError:
        assert str(e) in VALUE_ERRORS, repr(e)
    assert not isinstance(e, (SystemError, RuntimeError)), repr(e)


def index_of(value):
    """operator.index(value) and its failure, the interpreter's index protocol."""
    try:
        return operator.index(value), None
    except BaseException as e:  # noqa: BLE001 - the Planted exceptions too
        return None, type(e)


def fuzz(test_one_input):
    """Run libFuzzer on test_one_input with the command line's options.

    libFuzzer's merge and fork modes start the target again through the
    shell with its argv[0]; a script needs the interpreter in front of it."""
    argv0 = f"{shlex.quote(sys.executable)} {shlex.quote(sys.argv[0])}"
    atheris.Setup([argv0, *sys.argv[1:]], test_one_input)
    atheris.Fuzz()
