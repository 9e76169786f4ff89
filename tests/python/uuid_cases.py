"""Shared table of UUID values and helpers for the UUID class tests.

Each case is (label, 128-bit integer). The table mixes fixed values whose
properties are worked out by hand (nil, all bits set, the RFC 9562 examples,
variant boundaries) with values drawn from a seeded generator, so that the
differential tests against the standard library see ordinary data too.
"""

import random

import pytest
from hypothesis import strategies as st

import kestrand

RFC_V1 = "c232ab00-9414-11ec-b3c8-9f6bdeced846"
RFC_V3 = "5df41881-3aed-3515-88a7-2f4a814cf09e"
RFC_V4 = "919108f7-52d1-4320-9bac-f847db4148a8"
RFC_V5 = "2ed6657d-e927-568b-95e1-2665a8aea6a2"
RFC_V6 = "1ec9414c-232a-6b00-b3c8-9f6bdeced846"
RFC_V7 = "017f22e2-79b0-7cc3-98c4-dc0c0c07398f"
RFC_V8_TIME = "2489e9ad-2ee2-8e00-8ec9-32d5f69181c0"
RFC_V8_NAME = "5c146b14-3c52-8afd-938a-375d0df1fbf6"
NAMESPACE_DNS = "6ba7b810-9dad-11d1-80b4-00c04fd430c8"
COUNTING = "00112233-4455-6677-8899-aabbccddeeff"

MAX = (1 << 128) - 1


def _from_text(text):
    return int(text.replace("-", ""), 16)


def with_b8(n, b8):
    """Replace byte 8 (the variant byte) of the integer view n."""
    shift = 8 * (15 - 8)
    return (n & ~(0xFF << shift)) | (b8 << shift)


def with_version(n, version):
    """Replace the top nibble of byte 6 (the version nibble)."""
    shift = 8 * (15 - 6) + 4
    return (n & ~(0xF << shift)) | (version << shift)


def _random_cases(seed, count):
    rng = random.Random(seed)
    cases = []
    for i in range(count):
        n = rng.getrandbits(128)
        # Every third value gets the RFC variant and a version from 1 to 8,
        # so both the layouts the standard library knows and the others
        # are well represented.
        if i % 3 == 0:
            n = with_b8(n, 0x80 | (n >> 56 & 0x3F))
            n = with_version(n, 1 + i % 8)
        cases.append((f"random-{seed}-{i}", n))
    return cases


FIXED_CASES = [
    ("nil", 0),
    ("max", MAX),
    ("one", 1),
    ("two-pow-64", 1 << 64),
    ("rfc-v1", _from_text(RFC_V1)),
    ("rfc-v3", _from_text(RFC_V3)),
    ("rfc-v4", _from_text(RFC_V4)),
    ("rfc-v5", _from_text(RFC_V5)),
    ("rfc-v6", _from_text(RFC_V6)),
    ("rfc-v7", _from_text(RFC_V7)),
    ("rfc-v8-time", _from_text(RFC_V8_TIME)),
    ("rfc-v8-name", _from_text(RFC_V8_NAME)),
    ("namespace-dns", _from_text(NAMESPACE_DNS)),
    ("counting", _from_text(COUNTING)),
    ("v7-ncs-variant", with_b8(_from_text(RFC_V7), 0x58)),
    ("v6-microsoft-variant", with_b8(_from_text(RFC_V6), 0xC5)),
    ("b8-7f", with_b8(_from_text(RFC_V4), 0x7F)),
    ("b8-80", with_b8(_from_text(RFC_V4), 0x80)),
    ("b8-bf", with_b8(_from_text(RFC_V4), 0xBF)),
    ("b8-c0", with_b8(_from_text(RFC_V4), 0xC0)),
    ("b8-df", with_b8(_from_text(RFC_V4), 0xDF)),
    ("b8-e0", with_b8(_from_text(RFC_V4), 0xE0)),
    ("high-bit-only", 1 << 127),
    ("low-half-max", (1 << 64) - 1),
]

CASES = FIXED_CASES + _random_cases(20240611, 48)
CASE_IDS = [label for label, _ in CASES]
CASE_INTS = [n for _, n in CASES]
# Any 128-bit value, for property tests; the table's edge values come up often.
VALUES = st.one_of(st.sampled_from(CASE_INTS), st.integers(0, MAX),
                   st.binary(min_size=16, max_size=16).map(lambda b: int.from_bytes(b, "big")))



class Index:
    """An object that is an integer only through the index protocol."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Derived(kestrand.UUID):
    pass


# A class call, a subclass call and an explicit __new__ call take different
# routes into the constructor; all must bind and behave alike.
CONSTRUCTORS = [
    pytest.param(kestrand.UUID, id="UUID"),
    pytest.param(Derived, id="subclass"),
    pytest.param(lambda *a, **k: kestrand.UUID.__new__(kestrand.UUID, *a, **k), id="__new__"),
]
