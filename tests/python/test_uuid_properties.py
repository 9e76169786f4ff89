"""The fifteen read-only properties of UUID."""

import sys
import types
import uuid

import pytest
from hypothesis import given

import kestrand
from uuid_cases import CASE_IDS, CASE_INTS, RFC_V1, RFC_V6, RFC_V7, VALUES, Derived, with_b8

UUID = kestrand.UUID

PROPERTIES = {
    "int", "bytes", "bytes_le", "hex", "urn", "version", "variant", "fields",
    "time_low", "time_mid", "time_hi_version", "clock_seq_hi_variant",
    "clock_seq_low", "time", "node",
}

# Properties whose meaning is the same as in the standard library for every value.
SAME_AS_STANDARD_LIBRARY = [
    "int", "bytes", "bytes_le", "hex", "urn", "fields", "time_low", "time_mid",
    "time_hi_version", "clock_seq_hi_variant", "clock_seq_low", "node", "variant",
]

# From 3.14 the standard library reads the version 6 and 7 timestamps as this
# class does; before, it read every layout as version 1.
STANDARD_TIME_READS_EVERY_LAYOUT = sys.version_info >= (3, 14)

NCS = "reserved for NCS compatibility"
RFC = "specified in RFC 4122"
MICROSOFT = "reserved for Microsoft compatibility"
FUTURE = "reserved for future definition"


def _is_rfc_variant(raw):
    return raw[8] & 0xC0 == 0x80


def _expected_time(raw):
    """The timestamp field as each layout defines it."""
    version = raw[6] >> 4
    t_hi12 = ((raw[6] & 0x0F) << 8) | raw[7]
    time_low = int.from_bytes(raw[0:4], "big")
    time_mid = int.from_bytes(raw[4:6], "big")
    if version == 6 and _is_rfc_variant(raw):
        return (time_low << 28) | (time_mid << 12) | t_hi12
    if version == 7 and _is_rfc_variant(raw):
        return int.from_bytes(raw[0:6], "big")
    return (t_hi12 << 48) | (time_mid << 32) | time_low


@pytest.mark.parametrize("n", CASE_INTS, ids=CASE_IDS)
def test_properties_match_standard_library(n):
    ours, ref = UUID(int=n), uuid.UUID(int=n)
    for name in SAME_AS_STANDARD_LIBRARY:
        value = getattr(ours, name)
        expected = getattr(ref, name)
        assert type(value) is type(expected), name
        assert value == expected, name
    for value in ours.fields:
        assert type(value) is int
    assert ours.fields == (ours.time_low, ours.time_mid, ours.time_hi_version,
                           ours.clock_seq_hi_variant, ours.clock_seq_low, ours.node)
    if ref.version is not None:
        assert ours.version == ref.version
    if STANDARD_TIME_READS_EVERY_LAYOUT or not (_is_rfc_variant(ref.bytes) and ref.bytes[6] >> 4 in (6, 7)):
        assert ours.time == ref.time


@pytest.mark.parametrize("n", CASE_INTS, ids=CASE_IDS)
def test_version_and_time_for_every_layout(n):
    ours = UUID(int=n)
    raw = n.to_bytes(16, "big")
    assert type(ours.version) is int and ours.version == raw[6] >> 4
    assert type(ours.time) is int and ours.time == _expected_time(raw)
    assert 0 <= ours.time < 1 << 60


def test_version_is_reported_for_every_variant():
    # The standard library reports None outside the RFC variant; this class
    # always reports the top nibble of byte 6.
    for b8 in (0x00, 0x7F, 0xC0, 0xDF, 0xE0, 0xFF):
        n = with_b8(int(RFC_V7.replace("-", ""), 16), b8)
        assert uuid.UUID(int=n).version is None
        assert UUID(int=n).version == 7
    assert UUID(int=0).version == 0
    assert UUID(int=(1 << 128) - 1).version == 15


def test_time_of_the_rfc_examples_for_versions_6_and_7():
    v6, v7 = UUID(hex=RFC_V6), UUID(hex=RFC_V7)
    assert v6.time == 138648505420000000 == 0x1EC9414C232AB00
    assert v7.time == 1645557742000
    # The v1 example holds the same instant as the v6 one.
    assert UUID(hex=RFC_V1).time == 138648505420000000
    agrees = (uuid.UUID(hex=RFC_V6).time == v6.time, uuid.UUID(hex=RFC_V7).time == v7.time)
    assert agrees == (STANDARD_TIME_READS_EVERY_LAYOUT,) * 2


def test_version_7_bytes_with_another_variant_use_the_version_1_layout():
    u = UUID(int=with_b8(int(RFC_V7.replace("-", ""), 16), 0x58))
    assert u.time == 919712545760027362
    assert u.version == 7
    assert u.variant == NCS


def test_nil_properties():
    u = UUID(int=0)
    assert (u.version, u.variant, u.time, u.fields, u.hex, u.int, u.node) == (
        0, NCS, 0, (0, 0, 0, 0, 0, 0), "0" * 32, 0, 0)


def test_all_ones_properties():
    u = UUID(int=(1 << 128) - 1)
    assert u.version == 15
    assert u.variant == FUTURE
    assert u.time == (1 << 60) - 1
    assert u.node == (1 << 48) - 1
    assert u.int == (1 << 128) - 1
    assert u.fields == (0xFFFFFFFF, 0xFFFF, 0xFFFF, 0xFF, 0xFF, 0xFFFFFFFFFFFF)


def test_bytes_le_reverses_first_three_fields():
    u = UUID(hex="00112233-4455-6677-8899-aabbccddeeff")
    assert u.bytes_le == bytes.fromhex("33221100554477668899aabbccddeeff")
    assert u.bytes == bytes.fromhex("00112233445566778899aabbccddeeff")


@pytest.mark.parametrize("b8, text", [
    (0x00, NCS), (0x7F, NCS),
    (0x80, RFC), (0xBF, RFC),
    (0xC0, MICROSOFT), (0xDF, MICROSOFT),
    (0xE0, FUTURE), (0xFF, FUTURE),
])
def test_variant_boundaries(b8, text):
    assert UUID(int=with_b8(0, b8)).variant == text
    assert UUID(int=with_b8((1 << 128) - 1, b8)).variant == text


def test_class_has_exactly_the_fifteen_properties():
    descriptors = {name for name, value in vars(UUID).items()
                   if isinstance(value, types.GetSetDescriptorType)}
    assert descriptors == PROPERTIES
    for name in PROPERTIES:
        assert not vars(UUID)[name].__doc__


def test_missing_attribute():
    with pytest.raises(AttributeError) as excinfo:
        UUID(int=0).clock_seq
    assert str(excinfo.value) == "'kestrand.UUID' object has no attribute 'clock_seq'"


@pytest.mark.parametrize("name", sorted(PROPERTIES))
def test_properties_are_read_only(name):
    u = UUID(int=0x00112233445566778899AABBCCDDEEFF)
    message = f"attribute '{name}' of 'kestrand.UUID' objects is not writable"
    with pytest.raises(AttributeError) as excinfo:
        setattr(u, name, 4)
    assert str(excinfo.value) == message
    with pytest.raises(AttributeError) as excinfo:
        delattr(u, name)
    assert str(excinfo.value) == message
    assert u.int == 0x00112233445566778899AABBCCDDEEFF


def test_properties_of_subclass_instances():
    class Derived(UUID):
        pass

    d = Derived(hex=RFC_V7)
    base = UUID(hex=RFC_V7)
    for name in PROPERTIES:
        assert getattr(d, name) == getattr(base, name), name


@given(n=VALUES)
def test_every_form_and_view_agrees_with_standard_library(n):
    ref = uuid.UUID(int=n)
    text = str(ref)
    made = [UUID(int=n), Derived(int=n), UUID(bytes=ref.bytes), UUID(bytes_le=ref.bytes_le),
            Derived(fields=ref.fields), UUID(fields=ref.fields), UUID(ref.hex), UUID(text.upper()),
            UUID("{" + text + "}"), UUID(ref.urn), UUID(None, None, None, None, n)]
    for u in made:
        assert int(u) == n
        for name in SAME_AS_STANDARD_LIBRARY:
            assert getattr(u, name) == getattr(ref, name), name
        assert str(u) == text and repr(u) == f"UUID('{text}')"
        if ref.version is not None:
            assert u.version == ref.version
        if STANDARD_TIME_READS_EVERY_LAYOUT or not (ref.variant == uuid.RFC_4122 and ref.version in (6, 7)):
            assert u.time == ref.time
        assert u == made[0] and hash(u) == hash(made[0])
