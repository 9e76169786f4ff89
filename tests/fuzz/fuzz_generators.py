"""Fuzz target: the generator functions' arguments.

uuid3/uuid5 with namespaces and names of every type (compared with the
standard library whenever both are accepted), uuid1 with every node and
clock_seq and whatever a replaced uuid.getnode returns (the node's low 48
bits and the clock sequence's low 14 bits must land in their fields), and
the bulk functions' n: small counts, counts above
the limits, and values of other types. Counts between the two are left out:
they would only measure the allocator.
"""

import uuid

import atheris

import kestrand
from fuzz_support import (OUT_OF_RANGE, UUID, PanicException, Planted, Sub, Values,
                          check_exception, check_uuid, fuzz, index_of)

BULK = {
    kestrand.uuid4_bulk: (1 << 59) - 1,
    kestrand.uuid7_bulk: (1 << 59) - 1,
    kestrand.uuid4_as_strings_bulk: 384307168202282325,
    kestrand.uuid7_as_strings_bulk: 384307168202282325,
}
NAME_BASED = [(kestrand.uuid3, uuid.uuid3, 3), (kestrand.uuid5, uuid.uuid5, 5)]


def arrange(values, names, args):
    """(positional, keywords, well formed): args each by position or keyword,
    sometimes with one too many or too few."""
    positional, keywords = [], {}
    by_keyword = False
    for name, arg in zip(names, args):
        by_keyword = by_keyword or values.flag()
        if by_keyword:
            keywords[name] = arg
        else:
            positional.append(arg)
    extra = values.fdp.ConsumeIntInRange(0, 7)
    if extra == 1:
        positional.append(values.value())
    elif extra == 2:
        # An unknown keyword, or the first parameter again when it went by position.
        keywords[names[0] if positional and values.flag() else "x"] = values.value()
    elif extra == 3 and positional:
        positional.pop()
    else:
        return positional, keywords, True
    return positional, keywords, False


def name_based(values):
    ours, theirs, version = values.pick(NAME_BASED)
    namespace = values.value() if values.fdp.ConsumeIntInRange(0, 3) == 0 else \
        (Sub if values.flag() else UUID)(bytes=values.raw16())
    name = values.value() if values.fdp.ConsumeIntInRange(0, 3) == 0 else values.byte_string()
    positional, keywords, well_formed = arrange(values, ("namespace", "name"), (namespace, name))
    valid = well_formed and isinstance(namespace, UUID) and isinstance(name, bytes)
    try:
        result = ours(*positional, **keywords)
    except TypeError as e:
        check_exception(e)
        assert not valid, (positional, keywords, repr(e))
        return
    assert valid, (positional, keywords, result)
    check_uuid(result)
    assert result.version == version and result.variant == uuid.RFC_4122
    expected = theirs(uuid.UUID(bytes=namespace.bytes), bytes(name))
    assert result.bytes == expected.bytes, (namespace, name, result, expected)


def version1(values):
    node = values.value() if values.flag() else values.integer()
    clock_seq = values.value() if values.flag() else values.integer()
    # Sometimes the host's getnode() is replaced by one returning anything:
    # uuid1 looks it up on every call and must convert what it gets.
    host = values.value() if values.fdp.ConsumeIntInRange(0, 3) == 0 else None
    positional, keywords, well_formed = arrange(values, ("node", "clock_seq"), (node, clock_seq))
    real_getnode = uuid.getnode
    if host is not None:
        uuid.getnode = lambda: host
    try:
        result = kestrand.uuid1(*positional, **keywords)
    except (TypeError, OverflowError, Planted) as e:
        check_exception(e)
        if type(e) is OverflowError and str(e) == OUT_OF_RANGE:
            seq, error = index_of(clock_seq)
            assert error is None and not 0 <= seq <= 0xFFFF, (clock_seq, repr(e))
        return
    finally:
        uuid.getnode = real_getnode
    check_uuid(result)
    assert result.version == 1 and result.variant == uuid.RFC_4122
    if not well_formed:
        return
    source = node if node is not None else host
    if source is not None:
        n, error = index_of(source)
        assert error is None and 0 <= n < 1 << 64, (node, host, result)
        assert result.node == n & 0xFFFFFFFFFFFF, (node, host, result)
    if clock_seq is not None:
        seq, error = index_of(clock_seq)
        assert error is None and 0 <= seq <= 0xFFFF, (clock_seq, result)
        assert result.clock_seq_low == seq & 0xFF and result.clock_seq_hi_variant == 0x80 | (seq >> 8) & 0x3F


def bulk(values):
    function, limit = values.pick(list(BULK.items()))
    kind = values.fdp.ConsumeIntInRange(0, 3)
    if kind == 0:
        n = values.fdp.ConsumeIntInRange(0, 5)
    elif kind == 1:
        n = limit + 1 + values.fdp.ConsumeIntInRange(0, 3) * (1 << values.fdp.ConsumeIntInRange(0, 70))
    else:
        n = values.value()
        count, error = index_of(n)
        if error is None and 5 < count <= limit:
            return  # a real request for many values: not what this target is for
    try:
        result = function(n) if values.flag() else function(n=n)
    except PanicException as e:
        count = index_of(n)[0]
        assert count is not None and limit < count < 1 << 64 and str(e) == "capacity overflow", (n, repr(e))
        return
    except (TypeError, OverflowError, Planted) as e:
        check_exception(e)
        count, error = index_of(n)
        assert error is not None or not 0 <= count < 1 << 64, (n, repr(e))
        return
    count = index_of(n)[0]
    assert type(result) is list and len(result) == count, (n, result)
    for item in result:
        if isinstance(item, str):
            item = UUID(hex=item)
        check_uuid(item)


def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    values = Values(fdp)
    for _ in range(fdp.ConsumeIntInRange(1, 3)):
        values.pick([name_based, version1, bulk])(values)


if __name__ == "__main__":
    fuzz(test_one_input)
