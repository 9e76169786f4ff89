"""Fuzz target: pickling and copying.

Pickles of a UUID and of a subclass, mutated and loaded through an unpickler
that resolves only the names a UUID pickle needs; __setstate__ and
__deepcopy__ called with states and memos of every type, by position and
keyword. A load that succeeds must give UUIDs that pass every check; a failed
__setstate__ must leave the value as it was.
"""

import _codecs
import copy
import copyreg
import io
import pickle
import struct

import atheris

from fuzz_support import UUID, Sub, Values, check_exception, check_uuid, fuzz

# Not bytes or bytearray: a damaged pickle would call them with a huge count.
ALLOWED_GLOBALS = {
    ("kestrand", "UUID"): UUID,
    ("fuzz_support", "Sub"): Sub,
    ("copyreg", "__newobj__"): copyreg.__newobj__,
    ("copyreg", "_reconstructor"): copyreg._reconstructor,
    ("builtins", "object"): object,
    ("_codecs", "encode"): _codecs.encode,
}
# What a damaged pickle may legitimately raise, from the unpickler itself or
# from the calls it makes; anything else (SystemError, RuntimeError, a
# PanicException) is a fault.
LOAD_ERRORS = (pickle.UnpicklingError, EOFError, ValueError, TypeError, OverflowError,
               KeyError, IndexError, AttributeError, LookupError, UnicodeError, struct.error)


# The pure-Python unpickler: the C one sizes its memo by the index a damaged
# pickle names, and asks for gigabytes; that is the pickle module's affair.
class OnlyUuids(pickle._Unpickler):
    dispatch = dict(pickle._Unpickler.dispatch)

    def refuse_bytearray8(self):
        # It allocates the length it reads before reading; no UUID pickle has one.
        raise pickle.UnpicklingError("BYTEARRAY8 is not allowed")

    dispatch[pickle.BYTEARRAY8[0]] = refuse_bytearray8

    def find_class(self, module, name):
        try:
            return ALLOWED_GLOBALS[(module, name)]
        except KeyError:
            raise pickle.UnpicklingError(f"{module}.{name} is not allowed") from None


def check_loaded(obj, depth=0):
    if isinstance(obj, UUID):
        check_uuid(obj, type(obj))
    elif isinstance(obj, (list, tuple, set, frozenset)) and depth < 3:
        for item in obj:
            check_loaded(item, depth + 1)
    elif isinstance(obj, dict) and depth < 3:
        for key, item in obj.items():
            check_loaded(key, depth + 1)
            check_loaded(item, depth + 1)


def mutate(values, data):
    data = bytearray(data)
    for _ in range(values.fdp.ConsumeIntInRange(0, 4)):
        if not data:
            break
        at = values.fdp.ConsumeIntInRange(0, len(data) - 1)
        action = values.fdp.ConsumeIntInRange(0, 3)
        if action == 0:
            data[at] = values.fdp.ConsumeIntInRange(0, 255)
        elif action == 1:
            data[at:at] = values.fdp.ConsumeBytes(values.fdp.ConsumeIntInRange(1, 8))
        elif action == 2:
            del data[at : at + values.fdp.ConsumeIntInRange(1, 8)]
        else:
            data = data[:at]
    return bytes(data)


def load_mutated(values, u):
    protocol = values.fdp.ConsumeIntInRange(0, pickle.HIGHEST_PROTOCOL)
    shape = values.pick([u, [u, u], (u, Sub(int=1)), {"k": u}])
    try:
        data = pickle.dumps(shape, protocol)
    except TypeError:
        assert protocol < 2, protocol  # the state needs protocol 2 or later
        return
    intact = pickle.loads(data)
    assert intact == shape and type(intact) is type(shape)
    if isinstance(shape, UUID):
        assert type(intact) is type(u) and hash(intact) == hash(u)
    try:
        loaded = OnlyUuids(io.BytesIO(mutate(values, data))).load()
    except LOAD_ERRORS:
        return  # anything else propagates and is reported
    check_loaded(loaded)


def call_setstate(values, u):
    before = u.bytes
    state = values.value()
    style = values.fdp.ConsumeIntInRange(0, 3)
    try:
        if style == 0:
            result = u.__setstate__(state)
        elif style == 1:
            result = u.__setstate__(state=state)
        elif style == 2:
            result = u.__setstate__()
        else:
            result = u.__setstate__(state, values.value())
    except (TypeError, ValueError) as e:
        check_exception(e)
        assert u.bytes == before, (state, u, before)
        ok = isinstance(state, bytes) and len(bytes(state)) == 16 and style < 2
        assert not ok, (state, style, repr(e))
        if style < 2 and not isinstance(state, bytes):
            assert str(e) == f"'{type(state).__name__}' object cannot be converted to 'PyBytes'", repr(e)
        return
    assert result is None and style < 2 and isinstance(state, bytes)
    assert u.bytes == bytes(state), (state, u)
    check_uuid(u, type(u))


def call_copies(values, u):
    memo = values.pick([{}, {1: 2}, None, [], values.value()])
    by_keyword = values.flag()
    try:
        deep = u.__deepcopy__(_memo=memo) if by_keyword else u.__deepcopy__(memo)
    except TypeError as e:
        assert not isinstance(memo, dict), (memo, repr(e))
        assert str(e).startswith("argument '_memo': "), repr(e)
    else:
        assert isinstance(memo, dict), memo
        assert type(deep) is UUID and deep == u and deep is not u
    for dup in (copy.copy(u), copy.deepcopy(u), u.__copy__()):
        assert type(dup) is UUID and dup == u and dup is not u
    assert u.__getstate__() == u.bytes
    assert u.__getnewargs__() == (None, None, None, None, 0, None)


def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    values = Values(fdp)
    u = (Sub if values.flag() else UUID)(bytes=values.raw16())
    for _ in range(fdp.ConsumeIntInRange(1, 3)):
        action = fdp.ConsumeIntInRange(0, 2)
        if action == 0:
            load_mutated(values, u)
        elif action == 1:
            call_setstate(values, u)
        else:
            call_copies(values, u)


if __name__ == "__main__":
    fuzz(test_one_input)
