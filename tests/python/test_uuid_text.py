"""Text forms: what str(), repr(), hex and urn write, and which spellings
the constructor's hex argument accepts."""

import re
import uuid

import pytest
from hypothesis import given
from hypothesis import strategies as st

import kestrand
from uuid_cases import CASE_IDS, CASE_INTS, VALUES

UUID = kestrand.UUID
BAD = "badly formed hexadecimal UUID string"
DNS = "6ba7b810-9dad-11d1-80b4-00c04fd430c8"
DNS_BYTES = bytes.fromhex(DNS.replace("-", ""))
HEX_DIGITS = set("0123456789abcdefABCDEF")


def _refused(text):
    with pytest.raises(ValueError) as excinfo:
        UUID(hex=text)
    assert type(excinfo.value) is ValueError
    assert str(excinfo.value) == BAD, text


# ---------------------------------------------------------------------------
# Written forms, against the standard library.

@pytest.mark.parametrize("n", CASE_INTS, ids=CASE_IDS)
def test_written_forms_match_standard_library(n):
    ours, ref = UUID(int=n), uuid.UUID(int=n)
    assert str(ours) == str(ref)
    assert ours.hex == ref.hex
    assert ours.urn == ref.urn
    assert repr(ours) == repr(ref) == f"UUID('{ref}')"
    assert len(str(ours)) == 36 and len(ours.hex) == 32 and len(ours.urn) == 45
    assert len(repr(ours)) == 44


def test_nil_forms():
    nil = UUID(int=0)
    assert nil.hex == "00000000000000000000000000000000"
    assert str(nil) == "00000000-0000-0000-0000-000000000000"
    assert nil.urn == "urn:uuid:00000000-0000-0000-0000-000000000000"
    assert repr(nil) == "UUID('00000000-0000-0000-0000-000000000000')"


def test_forms_use_lowercase_digits():
    u = UUID(int=(1 << 128) - 1)
    assert u.hex == "f" * 32
    assert str(u) == "ffffffff-ffff-ffff-ffff-ffffffffffff"
    assert u.urn == "urn:uuid:ffffffff-ffff-ffff-ffff-ffffffffffff"
    counting = UUID(hex="00112233-4455-6677-8899-AABBCCDDEEFF")
    assert counting.hex == "00112233445566778899aabbccddeeff"
    assert str(counting) == "00112233-4455-6677-8899-aabbccddeeff"


def test_repr_names_uuid_even_for_subclasses():
    class Tagged(UUID):
        pass

    text = "00112233-4455-6677-8899-aabbccddeeff"
    assert repr(Tagged(hex=text)) == f"UUID('{text}')"
    # The standard library uses the subclass name; this class does not.
    class StdTagged(uuid.UUID):
        pass

    assert repr(StdTagged(hex=text)) == f"StdTagged('{text}')"


# ---------------------------------------------------------------------------
# Accepted spellings.

def _spellings(hyphenated):
    simple = hyphenated.replace("-", "")
    mixed = "".join(c.upper() if i % 2 else c for i, c in enumerate(hyphenated))
    return [
        simple,
        simple.upper(),
        hyphenated,
        hyphenated.upper(),
        mixed,
        "{" + hyphenated + "}",
        "{" + hyphenated.upper() + "}",
        "urn:uuid:" + hyphenated,
        "urn:uuid:" + mixed,
    ]


@pytest.mark.parametrize("n", CASE_INTS, ids=CASE_IDS)
def test_accepted_spellings_match_standard_library(n):
    expected = uuid.UUID(int=n)
    for text in _spellings(str(expected)):
        assert uuid.UUID(hex=text) == expected, text
        got = UUID(hex=text)
        assert got.bytes == expected.bytes, text
        # Parsing and writing again normalises to lowercase.
        assert str(got) == str(expected)


# ---------------------------------------------------------------------------
# Refused spellings.

REFUSED = [
    pytest.param("", id="empty"),
    pytest.param(DNS.replace("-", "")[:-1], id="31-digits"),
    pytest.param(DNS.replace("-", "") + "0", id="33-digits"),
    pytest.param(DNS[:-1], id="35-hyphenated"),
    pytest.param(DNS + "0", id="37-hyphenated"),
    pytest.param("{6ba7b8109dad11d180b400c04fd430c8}", id="braced-simple"),
    pytest.param("URN:UUID:" + DNS, id="uppercase-prefix"),
    pytest.param("urn:UUID:" + DNS, id="partly-uppercase-prefix"),
    pytest.param("urn-uuid:" + DNS, id="prefix-with-dash"),
    pytest.param("urn:uuid:" + DNS.replace("-", ""), id="prefix-with-simple"),
    pytest.param("urn:uuid:{" + DNS + "}", id="prefix-with-braces"),
    pytest.param("uuid:" + DNS, id="short-prefix"),
    pytest.param(" " + DNS, id="leading-space"),
    pytest.param(DNS + " ", id="trailing-space"),
    pytest.param(" " + DNS + " ", id="surrounding-spaces"),
    pytest.param(DNS + "\n", id="trailing-newline"),
    pytest.param("6ba7b810-9dad11d1-80b4-00c04fd430c8-", id="moved-hyphen"),
    pytest.param("6ba7b8109-dad-11d1-80b4-00c04fd430c8", id="shifted-first-hyphen"),
    pytest.param("6ba7b810-9dad-11d1-80b4+00c04fd430c8", id="plus-for-hyphen"),
    pytest.param("6ba7b810_9dad_11d1_80b4_00c04fd430c8", id="underscores"),
    pytest.param("[" + DNS + "]", id="square-brackets"),
    pytest.param("(" + DNS + ")", id="parentheses"),
    pytest.param("{" + DNS + ")", id="mismatched-brackets"),
    pytest.param("}" + DNS + "{", id="reversed-braces"),
    pytest.param("{" + DNS + "{", id="two-opening-braces"),
    pytest.param("6ba7b810-9dad-11d1-80b4-00c04fd430cg", id="g-in-hyphenated"),
    pytest.param("6ba7b8109dad11d180b400c04fd430cg", id="g-in-simple"),
    pytest.param("0x6ba7b8109dad11d180b400c04fd430", id="0x-prefix"),
    pytest.param("6ba7b8109dad11d180b400c04fd430c\0", id="nul-in-simple"),
    # Non-ASCII characters: é is two bytes of UTF-8, so these texts have the
    # right byte length but the wrong content.
    pytest.param("é" + "0" * 30, id="non-ascii-32-bytes"),
    pytest.param("é" + DNS[2:], id="non-ascii-36-bytes"),
    pytest.param("0" * 31 + "é", id="non-ascii-33-bytes"),
    pytest.param("٠" * 32, id="arabic-indic-digits"),
    pytest.param("０" * 32, id="fullwidth-digits"),
]


@pytest.mark.parametrize("text", REFUSED)
def test_refused_spellings(text):
    _refused(text)


# Characters next to the digit ranges in ASCII, where an off-by-one in a
# range test would let them through.
BOUNDARY_CHARS = ["/", ":", "@", "G", "`", "g", "\0", " ", "-", "x", "\x7f"]


def test_every_ascii_non_digit_is_refused_at_a_digit_position():
    simple = DNS.replace("-", "")
    for code in range(128):
        c = chr(code)
        if c in HEX_DIGITS:
            continue
        _refused(c + simple[1:])
        _refused(DNS[:35] + c)


def test_each_position_is_checked():
    simple = DNS.replace("-", "")
    for pos in range(32):
        for c in BOUNDARY_CHARS:
            _refused(simple[:pos] + c + simple[pos + 1:])
    for pos in range(36):
        if DNS[pos] == "-":
            # A digit where a hyphen belongs.
            _refused(DNS[:pos] + "0" + DNS[pos + 1:])
            continue
        for c in BOUNDARY_CHARS:
            if c == "-" and pos in (8, 13, 18, 23):
                continue
            _refused(DNS[:pos] + c + DNS[pos + 1:])
            _refused("{" + DNS[:pos] + c + DNS[pos + 1:] + "}")
            _refused("urn:uuid:" + DNS[:pos] + c + DNS[pos + 1:])


def test_each_prefix_character_is_checked():
    prefix = "urn:uuid:"
    for pos in range(len(prefix)):
        for c in ("x", prefix[pos].upper(), "\0"):
            if c == prefix[pos]:
                continue
            _refused(prefix[:pos] + c + prefix[pos + 1:] + DNS)


@pytest.mark.parametrize("length", [0, 1, 16, 30, 31, 33, 34, 35, 37, 39, 40, 44, 46, 64])
def test_other_lengths_are_refused(length):
    _refused(("0" * 64)[:length])


# ---------------------------------------------------------------------------
# Spellings the standard library accepts after trimming or through int(),
# which this class refuses: nothing is stripped or normalised first.

LENIENT_IN_STANDARD_LIBRARY = [
    pytest.param("{6ba7b8109dad11d180b400c04fd430c8}", id="braced-simple"),
    pytest.param("urn:uuid:6ba7b8109dad11d180b400c04fd430c8", id="urn-simple"),
    pytest.param("uuid:" + DNS, id="uuid-prefix"),
    pytest.param("urn:" + DNS, id="urn-without-uuid"),
    pytest.param("{{" + DNS + "}}", id="double-braces"),
    pytest.param(DNS + "}", id="closing-brace-only"),
    pytest.param("6ba7b810-9dad11d1-80b4-00c04fd430c8-", id="moved-hyphen"),
    pytest.param("--6ba7b8109dad11d180b400c04fd430c8", id="leading-hyphens"),
    pytest.param(" 6ba7b8109dad11d180b400c04fd430c", id="leading-space"),
    pytest.param("6ba7b8109dad11d180b400c04fd430c ", id="trailing-space"),
    pytest.param("\t6ba7b8109dad11d180b400c04fd430c", id="leading-tab"),
    pytest.param("+6ba7b8109dad11d180b400c04fd430c", id="plus-sign"),
    pytest.param("6ba7_b8109dad11d180b400c04fd430c", id="underscore"),
    pytest.param("٠" * 32, id="arabic-indic-digits"),
]


@pytest.mark.parametrize("text", LENIENT_IN_STANDARD_LIBRARY)
def test_standard_library_leniency_is_not_copied(text):
    uuid.UUID(hex=text)  # accepted there
    _refused(text)


def test_hex_and_str_round_trip():
    for n in CASE_INTS:
        u = UUID(int=n)
        assert UUID(hex=str(u)) == u
        assert UUID(hex=u.hex) == u
        assert UUID(hex=u.urn) == u
        assert UUID(hex=str(u).upper()).bytes == u.bytes


def test_text_of_the_namespace_example():
    for text in ("6ba7b8109dad11d180b400c04fd430c8",
                 "6BA7B810-9DAD-11D1-80B4-00C04FD430C8",
                 "{6ba7b810-9dad-11d1-80b4-00c04fd430c8}",
                 "urn:uuid:6ba7b810-9dad-11d1-80b4-00c04fd430c8"):
        assert UUID(hex=text).bytes == DNS_BYTES


# ---------------------------------------------------------------------------
# Any text: what this class accepts, the standard library accepts with the
# same value; of the texts the standard library accepts, this class refuses
# exactly those outside the four spellings.

GROUPS = r"[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}"
FOUR_SPELLINGS = re.compile(rf"[0-9a-fA-F]{{32}}|{GROUPS}|\{{{GROUPS}\}}|urn:uuid:{GROUPS}")


@st.composite
def near_spellings(draw):
    """A spelling of some value, the accepted ones and their close misses, then perhaps edited."""
    n = draw(VALUES)
    hyphenated = str(uuid.UUID(int=n))
    simple = hyphenated.replace("-", "")
    text = draw(st.sampled_from(_spellings(hyphenated) + [
        "{" + simple + "}", "urn:uuid:" + simple, "URN:UUID:" + hyphenated, "urn:" + hyphenated,
        "uuid:" + hyphenated, hyphenated.replace("-", "_"), hyphenated[:9] + hyphenated[9:].replace("-", ""),
    ]))
    for _ in range(draw(st.integers(0, 2))):
        at = draw(st.integers(0, len(text)))
        char = draw(st.characters(codec="utf-8"))
        text = draw(st.sampled_from([text[:at] + char + text[at + 1:], text[:at] + char + text[at:],
                                     text[:at] + text[at + 1:]]))
    return text


@given(text=st.one_of(near_spellings(), st.text(max_size=50)))
def test_text_accepted_is_accepted_by_standard_library_with_the_same_value(text):
    try:
        theirs = uuid.UUID(hex=text)
    except ValueError:
        theirs = None
    try:
        ours = UUID(hex=text)
    except ValueError as e:
        assert str(e) == "badly formed hexadecimal UUID string"
        assert theirs is None or not FOUR_SPELLINGS.fullmatch(text), text
        return
    assert FOUR_SPELLINGS.fullmatch(text), text
    assert theirs is not None and ours.bytes == theirs.bytes, text
