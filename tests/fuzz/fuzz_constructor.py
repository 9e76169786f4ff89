"""Fuzz target: the UUID constructor.

Every mix of positional and keyword arguments, values of every type, through
the class call, a subclass and UUID.__new__. The outcome is predicted from
the binding and conversion rules, with the standard library giving the value
of every accepted form, and must match exactly: the same 16 bytes, or the same
exception type (and the module's message for its own ValueErrors).
"""

import uuid

import atheris

from fuzz_support import (ACCEPTED_HEX, MAX, OUT_OF_RANGE, UUID, PanicException, Planted, StrSub,
                          Sub, Values, check_exception, check_uuid, fuzz, index_of)

NAMES = ("hex", "bytes", "bytes_le", "fields", "int", "version")
FIELD_LIMITS = [(1 << 32, "field 1 out of range (need a 32-bit value)"),
                (1 << 16, "field 2 out of range (need a 16-bit value)"),
                (1 << 16, "field 3 out of range (need a 16-bit value)"),
                (1 << 8, "field 4 out of range (need a 8-bit value)"),
                (1 << 8, "field 5 out of range (need a 8-bit value)")]


class WithInit(UUID):
    def __init__(self, *args, **kwargs):
        pass


class WithNew(UUID):
    def __new__(cls, *args, **kwargs):
        return super().__new__(cls, *args, **kwargs)


# The class call of UUID, of a plain subclass and of subclasses with their own
# __init__ or __new__, and UUID.__new__ itself, take different routes in.
CLASSES = [UUID, Sub, WithInit, WithNew, None]
# Keyword names: the parameters, near misses, and the same texts as str
# subclasses (equal to the names) or with a NUL or a lone surrogate (unknown).
KEYWORDS = NAMES + ("x", "Hex", "versio", StrSub("int"), StrSub("bytes_le"), "hex\0", "\ud800", "in\u00e9")


class Expected(Exception):
    """The exception the model predicts: its type and, where fixed, its message."""

    def __init__(self, kind, message=None):
        super().__init__(kind, message)
        self.kind, self.message = kind, message


def as_long(value):
    """PyLong_AsLong: the index protocol, then the range of a C long."""
    n, error = index_of(value)
    if error is not None:
        raise Expected(error)
    if not -(1 << 63) <= n < 1 << 63:
        raise Expected(OverflowError)
    return n


def convert(slots):
    text = slots.get("hex")
    if text is not None:
        if not isinstance(text, str):
            raise Expected(TypeError)
        try:
            text.encode("utf-8")
        except UnicodeEncodeError:
            raise Expected(UnicodeEncodeError) from None
    for name in ("bytes", "bytes_le"):
        if slots.get(name) is not None and not isinstance(slots[name], bytes):
            raise Expected(TypeError)
    if slots.get("fields") is not None and not isinstance(slots["fields"], tuple):
        raise Expected(TypeError)
    if slots.get("int") is not None:
        n, error = index_of(slots["int"])
        if error is not None:
            raise Expected(error)
        if not 0 <= n <= MAX:
            raise Expected(OverflowError)
    version = None
    if slots.get("version") is not None:
        version = as_long(slots["version"])
        if not 0 <= version <= 255:
            raise Expected(OverflowError, OUT_OF_RANGE)
        if not 1 <= version <= 5:
            raise Expected(ValueError, "illegal version number")
    return version


def from_fields(fields):
    if len(fields) != 6:
        raise Expected(ValueError, "fields is not a 6-tuple")
    for item, (limit, message) in zip(fields, FIELD_LIMITS):
        if not isinstance(item, int):
            raise Expected(TypeError)
        if not 0 <= item < limit:
            raise Expected(ValueError, message)
    node = fields[5]
    if not isinstance(node, int):
        raise Expected(TypeError)
    if not 0 <= node <= MAX:
        raise Expected(OverflowError)
    if node >= 1 << 48:
        raise Expected(ValueError, "field 6 out of range (need a 48-bit value)")
    return uuid.UUID(fields=tuple(int(x) for x in fields)).bytes


def with_version(value, version):
    if version is None:
        return value
    return value[:6] + bytes([(value[6] & 0x0F) | version << 4]) + value[7:]


def predict(positional, keywords):
    """The 16 bytes UUID(*positional, **keywords) gives, or raises Expected."""
    if len(positional) > 6:
        raise Expected(TypeError)
    slots = dict(zip(NAMES, positional))
    for name, value in keywords.items():
        if name not in NAMES or name in slots:
            raise Expected(TypeError)
        slots[name] = value
    version = convert(slots)
    forms = [name for name in NAMES[:5] if slots.get(name) is not None]
    if len(forms) != 1:
        raise Expected(TypeError, "one of the hex, bytes, bytes_le, fields, or int arguments must be given")
    form, value = forms[0], slots[forms[0]]
    if form == "hex":
        if not ACCEPTED_HEX.fullmatch(value):
            raise Expected(ValueError, "badly formed hexadecimal UUID string")
        return uuid.UUID(hex=str(value)).bytes
    if form == "bytes":
        if len(bytes(value)) != 16:
            raise Expected(ValueError, "bytes is not a 16-char string")
        return with_version(uuid.UUID(bytes=bytes(value)).bytes, version)
    if form == "bytes_le":
        try:
            reported = len(value)
        except Planted:
            raise Expected(Planted) from None
        if reported != 16:
            raise Expected(ValueError, "bytes_le is not a 16-char string")
        if len(bytes(value)) < 16:
            raise Expected(PanicException)
        return with_version(uuid.UUID(bytes_le=bytes(value)[:16]).bytes, version)
    if form == "fields":
        return from_fields(value)
    return uuid.UUID(int=index_of(value)[0]).bytes


def typed_value(values, name):
    """A value of the type the parameter wants, its contents still arbitrary."""
    if name == "hex":
        return values.hex_text()
    if name in ("bytes", "bytes_le"):
        return values.byte_string()
    if name == "fields":
        count = 6 if values.flag() else values.fdp.ConsumeIntInRange(0, 8)
        return tuple(values.integer() for _ in range(count))
    return values.integer()


def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    values = Values(fdp)
    if values.flag():
        # One form, by position or keyword, perhaps with a version: mostly valid calls.
        name = values.pick(NAMES[:5])
        value = typed_value(values, name)
        if values.flag():
            positional, keywords = [None] * NAMES.index(name) + [value], {}
        else:
            positional, keywords = [], {name: value}
        if values.flag():
            keywords["version"] = values.fdp.ConsumeIntInRange(0, 6)
    else:
        positional = [values.value() for _ in range(fdp.ConsumeIntInRange(0, 7) if values.flag() else 0)]
        keywords = {}
        for _ in range(fdp.ConsumeIntInRange(0, 4)):
            keywords[values.pick(KEYWORDS)] = values.value()
    cls = values.pick(CLASSES)
    try:
        expected = predict(positional, keywords)
    except Expected as e:
        expected = e
    try:
        if cls is None:
            cls = UUID
            result = UUID.__new__(UUID, *positional, **keywords)
        else:
            result = cls(*positional, **keywords)
    except BaseException as e:  # noqa: BLE001 - PanicException is a BaseException
        if isinstance(expected, Expected) and expected.kind is PanicException:
            assert type(e) is PanicException, repr(e)
        else:
            check_exception(e, (TypeError, ValueError, OverflowError, Planted))
        assert isinstance(expected, Expected), (positional, keywords, repr(e), expected)
        assert type(e) is expected.kind, (positional, keywords, repr(e), expected.kind)
        if expected.message is not None:
            assert str(e) == expected.message, (positional, keywords, repr(e), expected.message)
        return
    assert not isinstance(expected, Expected), (positional, keywords, result, expected.kind)
    assert result.bytes == expected, (positional, keywords, result, expected)
    check_uuid(result, cls)


if __name__ == "__main__":
    fuzz(test_one_input)
