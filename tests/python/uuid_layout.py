"""Bit layouts of version 4 and version 7 UUIDs, written out independently of
the module so that tests can predict exact values from known inputs.

Version 7 (t = millisecond, c = 42-bit counter):

    bytes 0..5   t, bits 47..0, big-endian
    byte  6      0x70 | c[41..38]
    byte  7      c[37..30]
    byte  8      0x80 | c[29..24]
    bytes 9..11  c[23..0]
    bytes 12..15 bytes 9, 8, 7, 6 of the 16-byte random draw
"""

SEED_MASK = (1 << 41) - 1
MS_MASK = (1 << 48) - 1


def v4_from_draw(draw: bytes) -> str:
    """The simple form of the version 4 UUID made from a 16-byte draw: the
    draw read little-endian and stored big-endian, version and variant set."""
    assert len(draw) == 16
    value = bytearray(reversed(draw))
    value[6] = 0x40 | (value[6] & 0x0F)
    value[8] = 0x80 | (value[8] & 0x3F)
    return value.hex()


def seed_from_draw(draw: bytes) -> int:
    """A reseeded version 7 counter: 8 bytes read little-endian, 41 bits kept."""
    assert len(draw) == 8
    return int.from_bytes(draw, "little") & SEED_MASK


def v7_hex(ms: int, counter: int, draw: bytes) -> str:
    """The simple form of the version 7 UUID for a millisecond, a counter and
    the 16-byte random draw of its tail."""
    assert counter < 1 << 42 and len(draw) == 16
    value = bytearray(16)
    value[0:6] = (ms & MS_MASK).to_bytes(6, "big")
    value[6] = 0x70 | (counter >> 38) & 0x0F
    value[7] = (counter >> 30) & 0xFF
    value[8] = 0x80 | (counter >> 24) & 0x3F
    value[9:12] = (counter & 0xFFFFFF).to_bytes(3, "big")
    value[12:16] = bytes([draw[9], draw[8], draw[7], draw[6]])
    return value.hex()


def v7_fields(simple: str) -> tuple[int, int]:
    """(millisecond field, counter) of a version 7 UUID given in simple form."""
    value = bytes.fromhex(simple)
    assert len(value) == 16
    ms = int.from_bytes(value[0:6], "big")
    counter = (
        (value[6] & 0x0F) << 38
        | value[7] << 30
        | (value[8] & 0x3F) << 24
        | int.from_bytes(value[9:12], "big")
    )
    return ms, counter
