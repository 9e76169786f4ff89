"""UUID(hex=None, bytes=None, bytes_le=None, fields=None, int=None, version=None)."""

import collections
import uuid

import pytest

import kestrand
from uuid_cases import CASE_IDS, CASE_INTS, CONSTRUCTORS, Derived, Index

UUID = kestrand.UUID
COUNTING = bytes.fromhex("00112233445566778899aabbccddeeff")
ONE_OF = "one of the hex, bytes, bytes_le, fields, or int arguments must be given"
OUT_OF_RANGE = "out of range integral type conversion attempted"


def _overflow_text(value):
    # The interpreter's own text for an int that does not fit 16 unsigned bytes.
    try:
        value.to_bytes(16, "big")
    except OverflowError as exc:
        return str(exc)
    raise AssertionError("value fits")


def _utf8_error(text):
    try:
        text.encode("utf-8")
    except UnicodeEncodeError as exc:
        return str(exc)
    raise AssertionError("text encodes")


class Holder:
    class Inner:
        pass


class HexText(str):
    pass


class Raw(bytes):
    pass


class FieldsTuple(tuple):
    pass


class Small(int):
    pass




Fields = collections.namedtuple(
    "Fields", "time_low time_mid time_hi_version clock_seq_hi_variant clock_seq_low node")


class LenBytes(bytes):
    """A bytes object that reports a chosen length through len()."""

    def __new__(cls, data, length):
        obj = super().__new__(cls, data)
        obj.length = length
        return obj

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length


# ---------------------------------------------------------------------------
# Value forms, checked against the standard library.

@pytest.mark.parametrize("n", CASE_INTS, ids=CASE_IDS)
def test_every_form_builds_the_same_value_as_the_standard_library(n):
    ref = uuid.UUID(int=n)
    forms = {
        "hex": ref.hex,
        "bytes": ref.bytes,
        "bytes_le": ref.bytes_le,
        "fields": ref.fields,
        "int": ref.int,
    }
    for name, value in forms.items():
        got = UUID(**{name: value})
        assert type(got) is UUID
        assert got.bytes == ref.bytes, name
        assert got.int == n, name
        assert UUID.__new__(UUID, **{name: value}).bytes == ref.bytes, name
        derived = Derived(**{name: value})
        assert type(derived) is Derived and derived.bytes == ref.bytes, name


@pytest.mark.parametrize("n", [0, (1 << 128) - 1, int.from_bytes(COUNTING, "big")])
def test_positional_arguments_fill_parameters_in_order(n):
    ref = uuid.UUID(int=n)
    assert UUID(ref.hex).int == n
    assert UUID(None, ref.bytes).int == n
    assert UUID(None, None, ref.bytes_le).int == n
    assert UUID(None, None, None, ref.fields).int == n
    assert UUID(None, None, None, None, n).int == n


def test_none_counts_as_not_given():
    assert UUID(None, None, None, None, 0, None).bytes == bytes(16)
    assert UUID(hex=None, int=1) == UUID(int=1)
    assert UUID(hex=None, bytes=None, bytes_le=None, fields=None, int=5, version=None).int == 5


def test_bytes_le_reverses_first_three_fields():
    got = UUID(bytes_le=bytes(range(16)))
    assert got.bytes == bytes([3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15])


def test_fields_are_laid_out_big_endian():
    got = UUID(fields=(0x00112233, 0x4455, 0x6677, 0x88, 0x99, 0xAABBCCDDEEFF))
    assert got.bytes == COUNTING


@pytest.mark.parametrize("kwargs, expected", [
    pytest.param({"hex": HexText(COUNTING.hex())}, COUNTING, id="hex-str-subclass"),
    pytest.param({"bytes": Raw(COUNTING)}, COUNTING, id="bytes-subclass"),
    pytest.param({"bytes_le": Raw(bytes(range(16)))},
                 bytes([3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15]), id="bytes_le-subclass"),
    pytest.param({"fields": FieldsTuple((0x00112233, 0x4455, 0x6677, 0x88, 0x99, 0xAABBCCDDEEFF))},
                 COUNTING, id="fields-tuple-subclass"),
    pytest.param({"fields": Fields(0x00112233, 0x4455, 0x6677, 0x88, 0x99, 0xAABBCCDDEEFF)},
                 COUNTING, id="fields-namedtuple"),
    pytest.param({"fields": (True, False, Small(1), True, Small(255), Small(1 << 47))},
                 bytes.fromhex("00000001 0000 0001 01 ff 800000000000".replace(" ", "")),
                 id="fields-int-subclasses"),
    pytest.param({"int": True}, (1).to_bytes(16, "big"), id="int-bool"),
    pytest.param({"int": Small(7)}, (7).to_bytes(16, "big"), id="int-subclass"),
    pytest.param({"int": Index(1 << 100)}, (1 << 100).to_bytes(16, "big"), id="int-index"),
    pytest.param({"int": (1 << 128) - 1}, b"\xff" * 16, id="int-all-ones"),
    pytest.param({"int": 0, "version": True}, bytes(16), id="version-bool"),
    pytest.param({"int": 0, "version": Index(5)}, bytes(16), id="version-index"),
])
@pytest.mark.parametrize("construct", CONSTRUCTORS)
def test_accepted_argument_types(construct, kwargs, expected):
    assert construct(**kwargs).bytes == expected


# ---------------------------------------------------------------------------
# The version argument rewrites the version nibble only for the two byte forms.

VALUES_FOR_VERSION = [bytes(16), b"\xff" * 16, COUNTING]


@pytest.mark.parametrize("raw", VALUES_FOR_VERSION, ids=["nil", "max", "counting"])
@pytest.mark.parametrize("version", [1, 2, 3, 4, 5])
def test_version_sets_only_the_version_nibble_of_byte_forms(raw, version):
    expected = bytearray(raw)
    expected[6] = (expected[6] & 0x0F) | (version << 4)
    expected = bytes(expected)
    assert UUID(bytes=raw, version=version).bytes == expected
    le = uuid.UUID(bytes=raw).bytes_le
    assert UUID(bytes_le=le, version=version).bytes == expected
    # The variant byte is left exactly as given.
    assert UUID(bytes=raw, version=version).bytes[8] == raw[8]


@pytest.mark.parametrize("raw", VALUES_FOR_VERSION, ids=["nil", "max", "counting"])
@pytest.mark.parametrize("version", [1, 2, 3, 4, 5])
def test_version_leaves_hex_fields_and_int_forms_unchanged(raw, version):
    ref = uuid.UUID(bytes=raw)
    assert UUID(hex=ref.hex, version=version).bytes == raw
    assert UUID(fields=ref.fields, version=version).bytes == raw
    assert UUID(int=ref.int, version=version).bytes == raw


def test_version_differs_from_standard_library():
    # The standard library also forces the RFC variant and applies the version
    # to every form; this class does neither.
    ours = UUID(bytes=bytes(16), version=4)
    theirs = uuid.UUID(bytes=bytes(16), version=4)
    assert ours.bytes[6] == 0x40 and ours.bytes[8] == 0x00
    assert theirs.bytes[8] == 0x80
    assert ours.bytes != theirs.bytes
    assert UUID(int=0, version=4).int == 0
    assert uuid.UUID(int=0, version=4).int != 0
    assert UUID(hex="0" * 32, version=4).int == 0


# ---------------------------------------------------------------------------
# Refused arguments: exact type and text.

CONSTRUCTOR_ERRORS = [
    # No form, several forms, and the version check that precedes them.
    pytest.param({}, TypeError, ONE_OF, id="nothing"),
    pytest.param({"version": 4}, TypeError, ONE_OF, id="version-only"),
    pytest.param({"hex": "12345678123456781234567812345678", "int": 5}, TypeError, ONE_OF, id="hex-and-int"),
    pytest.param({"hex": "not hex", "int": 5}, TypeError, ONE_OF, id="bad-hex-and-int"),
    pytest.param({"bytes": bytes(16), "bytes_le": bytes(16)}, TypeError, ONE_OF, id="bytes-and-bytes_le"),
    pytest.param({"fields": (0,) * 6, "int": 0, "hex": "0" * 32, "bytes": bytes(16), "bytes_le": bytes(16)},
                 TypeError, ONE_OF, id="all-five"),
    pytest.param({"bytes": bytes(3), "int": 0}, TypeError, ONE_OF, id="short-bytes-and-int"),
    pytest.param({"version": 9}, ValueError, "illegal version number", id="version-9-alone"),
    pytest.param({"int": 0, "version": 0}, ValueError, "illegal version number", id="version-0"),
    pytest.param({"int": 0, "version": 6}, ValueError, "illegal version number", id="version-6"),
    pytest.param({"int": 0, "version": False}, ValueError, "illegal version number", id="version-false"),
    pytest.param({"int": 0, "version": 255}, ValueError, "illegal version number", id="version-255"),
    pytest.param({"hex": "not hex", "version": 9}, ValueError, "illegal version number", id="version-before-parse"),
    pytest.param({"hex": "0" * 32, "int": 1, "version": 9}, ValueError, "illegal version number",
                 id="version-before-form-count"),
    pytest.param({"int": 0, "version": 256}, OverflowError, OUT_OF_RANGE, id="version-256"),
    pytest.param({"int": 0, "version": -1}, OverflowError, OUT_OF_RANGE, id="version-negative"),
    pytest.param({"int": 0, "version": 1 << 70}, OverflowError, "Python int too large to convert to C long",
                 id="version-beyond-long"),
    pytest.param({"int": 0, "version": "4"}, TypeError,
                 "argument 'version': 'str' object cannot be interpreted as an integer", id="version-str"),
    pytest.param({"int": 0, "version": 4.0}, TypeError,
                 "argument 'version': 'float' object cannot be interpreted as an integer", id="version-float"),
    # hex
    pytest.param({"hex": b"00112233445566778899aabbccddeeff"}, TypeError,
                 "argument 'hex': 'bytes' object cannot be converted to 'PyString'", id="hex-bytes"),
    pytest.param({"hex": 1}, TypeError,
                 "argument 'hex': 'int' object cannot be converted to 'PyString'", id="hex-int"),
    pytest.param({"hex": Holder.Inner()}, TypeError,
                 "argument 'hex': 'Holder.Inner' object cannot be converted to 'PyString'", id="hex-qualified-name"),
    pytest.param({"hex": "\udc80" * 32}, UnicodeEncodeError, _utf8_error("\udc80" * 32), id="hex-lone-surrogate"),
    pytest.param({"hex": "not hex"}, ValueError, "badly formed hexadecimal UUID string", id="hex-unparsable"),
    # Conversion order is the parameter order, not the call order.
    pytest.param({"bytes": 1, "hex": 1}, TypeError,
                 "argument 'hex': 'int' object cannot be converted to 'PyString'", id="hex-converted-first"),
    pytest.param({"int": "x", "bytes_le": 1}, TypeError,
                 "argument 'bytes_le': 'int' object cannot be converted to 'PyBytes'", id="bytes_le-before-int"),
    pytest.param({"int": "x", "version": 9}, TypeError,
                 "argument 'int': 'str' object cannot be interpreted as an integer", id="int-before-version"),
    pytest.param({"bytes": bytes(16), "bytes_le": "x"}, TypeError,
                 "argument 'bytes_le': 'str' object cannot be converted to 'PyBytes'",
                 id="conversion-before-form-count"),
    # bytes and bytes_le
    pytest.param({"bytes": bytearray(16)}, TypeError,
                 "argument 'bytes': 'bytearray' object cannot be converted to 'PyBytes'", id="bytes-bytearray"),
    pytest.param({"bytes": memoryview(bytes(16))}, TypeError,
                 "argument 'bytes': 'memoryview' object cannot be converted to 'PyBytes'", id="bytes-memoryview"),
    pytest.param({"bytes": "0" * 16}, TypeError,
                 "argument 'bytes': 'str' object cannot be converted to 'PyBytes'", id="bytes-str"),
    pytest.param({"bytes": UUID(int=0)}, TypeError,
                 "argument 'bytes': 'UUID' object cannot be converted to 'PyBytes'", id="bytes-uuid"),
    pytest.param({"bytes_le": bytearray(16)}, TypeError,
                 "argument 'bytes_le': 'bytearray' object cannot be converted to 'PyBytes'", id="bytes_le-bytearray"),
    pytest.param({"bytes": bytes(15)}, ValueError, "bytes is not a 16-char string", id="bytes-15"),
    pytest.param({"bytes": bytes(17)}, ValueError, "bytes is not a 16-char string", id="bytes-17"),
    pytest.param({"bytes": b""}, ValueError, "bytes is not a 16-char string", id="bytes-empty"),
    pytest.param({"bytes_le": bytes(15)}, ValueError, "bytes_le is not a 16-char string", id="bytes_le-15"),
    pytest.param({"bytes_le": bytes(17)}, ValueError, "bytes_le is not a 16-char string", id="bytes_le-17"),
    # fields
    pytest.param({"fields": [0] * 6}, TypeError,
                 "argument 'fields': 'list' object cannot be converted to 'PyTuple'", id="fields-list"),
    pytest.param({"fields": (0,) * 5}, ValueError, "fields is not a 6-tuple", id="fields-5"),
    pytest.param({"fields": (0,) * 7}, ValueError, "fields is not a 6-tuple", id="fields-7"),
    pytest.param({"fields": ()}, ValueError, "fields is not a 6-tuple", id="fields-empty"),
    pytest.param({"fields": (0, 0, 0, 0, 0, "1")}, TypeError,
                 "'str' object cannot be converted to 'PyInt'", id="fields-str-item"),
    pytest.param({"fields": (0.0, 0, 0, 0, 0, 0)}, TypeError,
                 "'float' object cannot be converted to 'PyInt'", id="fields-float-item"),
    pytest.param({"fields": (Index(1), 0, 0, 0, 0, 0)}, TypeError,
                 "'Index' object cannot be converted to 'PyInt'", id="fields-index-item"),
    pytest.param({"fields": (1 << 32, "x", 0, 0, 0, 0)}, ValueError,
                 "field 1 out of range (need a 32-bit value)", id="fields-checked-in-order"),
    pytest.param({"fields": ("x", 1 << 32, 0, 0, 0, 0)}, TypeError,
                 "'str' object cannot be converted to 'PyInt'", id="fields-type-in-order"),
    pytest.param({"fields": (1 << 32, 0, 0, 0, 0, 0)}, ValueError,
                 "field 1 out of range (need a 32-bit value)", id="field1-2pow32"),
    pytest.param({"fields": (-1, 0, 0, 0, 0, 0)}, ValueError,
                 "field 1 out of range (need a 32-bit value)", id="field1-negative"),
    pytest.param({"fields": (1 << 70, 0, 0, 0, 0, 0)}, ValueError,
                 "field 1 out of range (need a 32-bit value)", id="field1-beyond-long"),
    pytest.param({"fields": (0, 1 << 16, 0, 0, 0, 0)}, ValueError,
                 "field 2 out of range (need a 16-bit value)", id="field2-2pow16"),
    pytest.param({"fields": (0, -1, 0, 0, 0, 0)}, ValueError,
                 "field 2 out of range (need a 16-bit value)", id="field2-negative"),
    pytest.param({"fields": (0, 0, 1 << 16, 0, 0, 0)}, ValueError,
                 "field 3 out of range (need a 16-bit value)", id="field3-2pow16"),
    pytest.param({"fields": (0, 0, -(1 << 70), 0, 0, 0)}, ValueError,
                 "field 3 out of range (need a 16-bit value)", id="field3-far-negative"),
    pytest.param({"fields": (0, 0, 0, 256, 0, 0)}, ValueError,
                 "field 4 out of range (need a 8-bit value)", id="field4-256"),
    pytest.param({"fields": (0, 0, 0, -1, 0, 0)}, ValueError,
                 "field 4 out of range (need a 8-bit value)", id="field4-negative"),
    pytest.param({"fields": (0, 0, 0, 0, 256, 0)}, ValueError,
                 "field 5 out of range (need a 8-bit value)", id="field5-256"),
    pytest.param({"fields": (0, 0, 0, 0, 0, 1 << 48)}, ValueError,
                 "field 6 out of range (need a 48-bit value)", id="field6-2pow48"),
    pytest.param({"fields": (0, 0, 0, 0, 0, (1 << 128) - 1)}, ValueError,
                 "field 6 out of range (need a 48-bit value)", id="field6-128-bit"),
    pytest.param({"fields": (0, 0, 0, 0, 0, -1)}, OverflowError, _overflow_text(-1), id="field6-negative"),
    pytest.param({"fields": (0, 0, 0, 0, 0, 1 << 128)}, OverflowError, _overflow_text(1 << 128),
                 id="field6-2pow128"),
    # int
    pytest.param({"int": "1"}, TypeError,
                 "argument 'int': 'str' object cannot be interpreted as an integer", id="int-str"),
    pytest.param({"int": 1.0}, TypeError,
                 "argument 'int': 'float' object cannot be interpreted as an integer", id="int-float"),
    pytest.param({"int": -1}, OverflowError, _overflow_text(-1), id="int-negative"),
    pytest.param({"int": Index(-5)}, OverflowError, _overflow_text(-5), id="int-index-negative"),
    pytest.param({"int": 1 << 128}, OverflowError, _overflow_text(1 << 128), id="int-2pow128"),
]


@pytest.mark.parametrize("construct", CONSTRUCTORS)
@pytest.mark.parametrize("kwargs, exc_type, message", CONSTRUCTOR_ERRORS)
def test_constructor_errors(construct, kwargs, exc_type, message):
    with pytest.raises(exc_type) as excinfo:
        construct(**kwargs)
    assert type(excinfo.value) is exc_type
    assert str(excinfo.value) == message


# ---------------------------------------------------------------------------
# bytes is measured by its byte size, bytes_le through len().

def test_bytes_uses_byte_size_not_len():
    assert UUID(bytes=LenBytes(COUNTING, 15)).bytes == COUNTING
    with pytest.raises(ValueError) as excinfo:
        UUID(bytes=LenBytes(COUNTING + b"!", 16))
    assert str(excinfo.value) == "bytes is not a 16-char string"


def test_bytes_le_uses_len():
    with pytest.raises(ValueError) as excinfo:
        UUID(bytes_le=LenBytes(bytes(range(16)), 15))
    assert str(excinfo.value) == "bytes_le is not a 16-char string"
    # With len() reporting 16, the first 16 bytes of a longer buffer are read.
    got = UUID(bytes_le=LenBytes(bytes(range(17)), 16))
    assert got.bytes == bytes([3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15])


def test_bytes_le_len_error_is_raised_unchanged():
    exc = KeyError("len failed")
    with pytest.raises(KeyError) as excinfo:
        UUID(bytes_le=LenBytes(bytes(16), exc))
    assert excinfo.value is exc


def test_bytes_le_shorter_than_its_len_is_an_internal_failure():
    with pytest.raises(BaseException) as excinfo:
        UUID(bytes_le=LenBytes(bytes(10), 16))
    err = excinfo.value
    assert type(err).__name__ == "PanicException"
    assert type(err).__module__ == "pyo3_runtime"
    assert not isinstance(err, Exception)
    assert len(err.args) == 1 and isinstance(err.args[0], str)


# ---------------------------------------------------------------------------
# Subclasses.

@pytest.mark.parametrize("kwargs", [
    {"int": 1},
    {"hex": "00000000000000000000000000000001"},
    {"bytes": (1).to_bytes(16, "big")},
    {"fields": (0, 0, 0, 0, 0, 1)},
])
def test_subclass_constructor_returns_subclass_instance(kwargs):
    got = Derived(**kwargs)
    assert type(got) is Derived
    assert got.int == 1
    assert got == UUID(int=1)


def test_subclass_constructor_errors_match():
    with pytest.raises(TypeError) as excinfo:
        Derived()
    assert str(excinfo.value) == ONE_OF


def test_init_assigned_to_the_class_is_honoured():
    """UUID(...) takes a fast call path; it must still run an __init__ that
    code assigned to the (mutable) class."""
    calls = []

    def init(self, *args, **kwargs):
        calls.append((args, kwargs))

    kestrand.UUID.__init__ = init
    try:
        u = kestrand.UUID(int=5)
    finally:
        del kestrand.UUID.__init__
    assert calls == [((), {"int": 5})]
    assert u.int == 5
    kestrand.UUID(int=6)
    assert len(calls) == 1
