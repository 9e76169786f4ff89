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


def chacha_words(key: bytes, block: int, count: int, rounds: int = 12, stream: int = 0) -> list[int]:
    """`count` words of the ChaCha keystream from block `block` on, in stream
    `stream`: the generator behind uuid_v1mc's nodes, for predicting them."""
    mask = 0xFFFFFFFF

    def rotl(x, n):
        return ((x << n) | (x >> (32 - n))) & mask

    def quarter(s, a, b, c, d):
        s[a] = (s[a] + s[b]) & mask; s[d] = rotl(s[d] ^ s[a], 16)  # noqa: E702
        s[c] = (s[c] + s[d]) & mask; s[b] = rotl(s[b] ^ s[c], 12)  # noqa: E702
        s[a] = (s[a] + s[b]) & mask; s[d] = rotl(s[d] ^ s[a], 8)  # noqa: E702
        s[c] = (s[c] + s[d]) & mask; s[b] = rotl(s[b] ^ s[c], 7)  # noqa: E702

    key_words = [int.from_bytes(key[i : i + 4], "little") for i in range(0, 32, 4)]
    words: list[int] = []
    while len(words) < count:
        counter = block & ((1 << 64) - 1)
        initial = [0x61707865, 0x3320646E, 0x79622D32, 0x6B206574, *key_words,
                   counter & mask, counter >> 32, stream & mask, stream >> 32]
        s = list(initial)
        for _ in range(rounds // 2):
            quarter(s, 0, 4, 8, 12); quarter(s, 1, 5, 9, 13)  # noqa: E702
            quarter(s, 2, 6, 10, 14); quarter(s, 3, 7, 11, 15)  # noqa: E702
            quarter(s, 0, 5, 10, 15); quarter(s, 1, 6, 11, 12)  # noqa: E702
            quarter(s, 2, 7, 8, 13); quarter(s, 3, 4, 9, 14)  # noqa: E702
        words += [(x + y) & mask for x, y in zip(s, initial)]
        block += 1
    return words[:count]


def v1mc_node(low: int, high: int) -> int:
    """The node uuid_v1mc makes of a 64-bit draw (two words, low first)."""
    return ((high << 32 | low) & 0xFFFFFFFFFFFF) | 0x010000000000
