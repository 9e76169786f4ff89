"""Argument binding: the exact TypeError texts for bad calls, and the rules
that rewrite a parameter's conversion error.

Callers match on these messages, so every case checks the exception type
and the full text.
"""

import sys

import pytest

import kestrand
from uuid_cases import CONSTRUCTORS, Derived, Index

UUID = kestrand.UUID
SAMPLE = UUID(int=0x00112233445566778899AABBCCDDEEFF)

BULK_NAMES = [
    name
    for name in ("uuid4_bulk", "uuid7_bulk", "uuid4_as_strings_bulk", "uuid7_as_strings_bulk")
    if hasattr(kestrand, name)
]


class RaisingIndex:
    def __init__(self, exc):
        self.exc = exc

    def __index__(self):
        raise self.exc


class Unprintable:
    def __str__(self):
        raise RuntimeError("no text")


class UnprintableName(str):
    def __str__(self):
        raise RuntimeError("no text")


# ---------------------------------------------------------------------------
# The constructor: six optional positional-or-keyword parameters.

NEW = "UUID.__new__()"
HEX = "00112233445566778899aabbccddeeff"

CONSTRUCTOR_BINDING_ERRORS = [
    pytest.param(tuple(range(7)), {},
                 f"{NEW} takes from 0 to 6 positional arguments but 7 were given", id="seven-positional"),
    pytest.param((None,) * 8, {},
                 f"{NEW} takes from 0 to 6 positional arguments but 8 were given", id="eight-positional"),
    # Too many positional arguments is reported before any keyword is looked at.
    pytest.param(tuple(range(7)), {"bogus": 1},
                 f"{NEW} takes from 0 to 6 positional arguments but 7 were given", id="surplus-beats-keyword"),
    pytest.param((), {"x": 1},
                 f"{NEW} got an unexpected keyword argument 'x'", id="unknown-keyword"),
    pytest.param((), {"int": 1, "x": 1},
                 f"{NEW} got an unexpected keyword argument 'x'", id="unknown-after-known"),
    pytest.param((), {"second": 1, "first": 2},
                 f"{NEW} got an unexpected keyword argument 'second'", id="first-unknown-in-call-order"),
    pytest.param((), {"HEX": HEX},
                 f"{NEW} got an unexpected keyword argument 'HEX'", id="case-sensitive"),
    pytest.param((), {"hex\0": HEX},
                 f"{NEW} got an unexpected keyword argument 'hex\0'", id="embedded-nul"),
    pytest.param((), {"hexx": HEX},
                 f"{NEW} got an unexpected keyword argument 'hexx'", id="longer-name"),
    pytest.param((), {"é": 1},
                 f"{NEW} got an unexpected keyword argument 'é'", id="non-ascii-name"),
    pytest.param((), {"\udcff": 1},
                 f"{NEW} got an unexpected keyword argument '\ufffd\ufffd\ufffd'", id="lone-surrogate-name"),
    # A positional None still occupies the slot.
    pytest.param((None,), {"hex": HEX},
                 f"{NEW} got multiple values for argument 'hex'", id="hex-twice"),
    pytest.param((None, None, None, None, 0, None), {"version": 4},
                 f"{NEW} got multiple values for argument 'version'", id="version-twice"),
    pytest.param((None, None, None, None, 1), {"int": 1},
                 f"{NEW} got multiple values for argument 'int'", id="int-twice"),
]




@pytest.mark.parametrize("construct", CONSTRUCTORS)
@pytest.mark.parametrize("args, kwargs, message", CONSTRUCTOR_BINDING_ERRORS)
def test_constructor_binding_errors(construct, args, kwargs, message):
    with pytest.raises(TypeError) as excinfo:
        construct(*args, **kwargs)
    assert type(excinfo.value) is TypeError
    assert str(excinfo.value) == message


@pytest.mark.parametrize("args, kwargs", [
    ((HEX,), {}),
    ((), {"hex": HEX}),
    ((None, None, None, None, int(HEX, 16)), {}),
    ((None,), {"int": int(HEX, 16), "version": None}),
    ((), {"int": int(HEX, 16), "hex": None, "bytes": None, "bytes_le": None, "fields": None}),
])
@pytest.mark.parametrize("construct", CONSTRUCTORS)
def test_constructor_binds_by_position_and_keyword(construct, args, kwargs):
    assert construct(*args, **kwargs).hex == HEX


# ---------------------------------------------------------------------------
# Callables with one required parameter.

def _setstate():
    return UUID(int=1).__setstate__


def _deepcopy():
    return SAMPLE.__deepcopy__


ONE_PARAMETER_TARGETS = [
    pytest.param("UUID.__setstate__()", _setstate, "state", bytes(range(16)), id="__setstate__"),
    pytest.param("UUID.__deepcopy__()", _deepcopy, "_memo", {}, id="__deepcopy__"),
] + [
    pytest.param(f"{name}()", (lambda name=name: getattr(kestrand, name)), "n", 1, id=name)
    for name in BULK_NAMES
]


def _one_parameter_cases(full, p, v):
    return [
        ((), {}, f"{full} missing 1 required positional argument: '{p}'"),
        ((v, v), {}, f"{full} takes 1 positional arguments but 2 were given"),
        ((v, v, v), {}, f"{full} takes 1 positional arguments but 3 were given"),
        ((v, v), {"bogus": 1}, f"{full} takes 1 positional arguments but 2 were given"),
        ((v,), {p: v}, f"{full} got multiple values for argument '{p}'"),
        ((), {"bogus": 1}, f"{full} got an unexpected keyword argument 'bogus'"),
        ((v,), {"bogus": 1}, f"{full} got an unexpected keyword argument 'bogus'"),
        ((), {p: v, "bogus": 1}, f"{full} got an unexpected keyword argument 'bogus'"),
        ((), {"second": 1, "first": 2}, f"{full} got an unexpected keyword argument 'second'"),
        ((), {p.upper(): v}, f"{full} got an unexpected keyword argument '{p.upper()}'"),
        ((), {p + "\0": v}, f"{full} got an unexpected keyword argument '{p}\0'"),
        ((), {p[:-1]: v}, f"{full} got an unexpected keyword argument '{p[:-1]}'"),
        ((), {"\udcff": v}, f"{full} got an unexpected keyword argument '\ufffd\ufffd\ufffd'"),
        ((), {"ñ": v}, f"{full} got an unexpected keyword argument 'ñ'"),
    ]


@pytest.mark.parametrize("full, factory, param, valid", ONE_PARAMETER_TARGETS)
def test_one_parameter_binding_errors(full, factory, param, valid):
    func = factory()
    for args, kwargs, message in _one_parameter_cases(full, param, valid):
        with pytest.raises(TypeError) as excinfo:
            func(*args, **kwargs)
        assert type(excinfo.value) is TypeError, (args, kwargs)
        assert str(excinfo.value) == message, (args, kwargs)


@pytest.mark.parametrize("full, factory, param, valid", ONE_PARAMETER_TARGETS)
def test_one_parameter_binds_by_keyword(full, factory, param, valid):
    func = factory()
    by_keyword = func(**{param: valid})
    if param == "state":
        assert func.__self__.bytes == valid
    by_position = func(valid)
    assert type(by_keyword) is type(by_position)
    if isinstance(by_position, list):
        assert len(by_keyword) == len(by_position) == valid
    elif by_position is not None:
        assert by_keyword == by_position


@pytest.mark.parametrize("target", [
    pytest.param(lambda kw: UUID(**kw), id="UUID"),
    pytest.param(lambda kw: Derived(**kw), id="subclass"),
    pytest.param(lambda kw: UUID(int=1).__setstate__(**kw), id="__setstate__"),
])
def test_unprintable_keyword_name(target, monkeypatch):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", reported.append)
    name = UnprintableName("bogus")
    with pytest.raises(TypeError) as excinfo:
        target({name: 1})
    message = str(excinfo.value)
    assert message.endswith(" got an unexpected keyword argument '<unprintable UnprintableName object>'")
    assert reported and reported[0].object is name


# ---------------------------------------------------------------------------
# Argument-error rule: a conversion TypeError gains the parameter's name,
# keeps the original's cause, and every other error passes through untouched.

def _converters():
    yield pytest.param("int", lambda value: UUID(int=value), id="UUID-int")
    yield pytest.param("int", lambda value: Derived(int=value), id="subclass-int")
    for name in BULK_NAMES:
        yield pytest.param("n", (lambda value, name=name: getattr(kestrand, name)(value)), id=name)


CONVERTERS = list(_converters())


@pytest.mark.parametrize("param, call", CONVERTERS)
def test_conversion_type_error_gains_parameter_prefix(param, call):
    cause = KeyError("inner")
    inner = TypeError("boom")
    inner.__cause__ = cause
    with pytest.raises(TypeError) as excinfo:
        call(RaisingIndex(inner))
    err = excinfo.value
    assert type(err) is TypeError
    assert str(err) == f"argument '{param}': boom"
    assert err is not inner
    assert err.__cause__ is cause


@pytest.mark.parametrize("param, call", CONVERTERS)
def test_conversion_type_error_with_unprintable_text(param, call, monkeypatch):
    monkeypatch.setattr(sys, "unraisablehook", lambda unraisable: None)
    with pytest.raises(TypeError) as excinfo:
        call(RaisingIndex(TypeError(Unprintable())))
    assert str(excinfo.value) == f"argument '{param}': <unprintable TypeError object>"


class OwnTypeError(TypeError):
    pass


@pytest.mark.parametrize("param, call", CONVERTERS)
@pytest.mark.parametrize("exc", [
    pytest.param(OwnTypeError("subclass of TypeError"), id="TypeError-subclass"),
    pytest.param(ValueError("not a TypeError"), id="ValueError"),
    pytest.param(OverflowError("overflow"), id="OverflowError"),
])
def test_other_conversion_errors_pass_through(param, call, exc):
    with pytest.raises(type(exc)) as excinfo:
        call(RaisingIndex(exc))
    assert excinfo.value is exc
    assert str(excinfo.value) == str(exc)


# ---------------------------------------------------------------------------
# Count parameter of the bulk functions.

BULK_COUNT_ERRORS = [
    ("3", TypeError, "argument 'n': 'str' object cannot be interpreted as an integer"),
    (3.0, TypeError, "argument 'n': 'float' object cannot be interpreted as an integer"),
    (None, TypeError, "argument 'n': 'NoneType' object cannot be interpreted as an integer"),
    (b"\x01", TypeError, "argument 'n': 'bytes' object cannot be interpreted as an integer"),
    (-1, OverflowError, "can't convert negative int to unsigned"),
    (Index(-1), OverflowError, "can't convert negative int to unsigned"),
    (1 << 64, OverflowError, "int too big to convert"),
]


@pytest.mark.skipif(not BULK_NAMES, reason="bulk functions not built")
@pytest.mark.parametrize("name", BULK_NAMES)
@pytest.mark.parametrize("value, exc_type, message", BULK_COUNT_ERRORS)
def test_bulk_count_conversion_errors(name, value, exc_type, message):
    with pytest.raises(exc_type) as excinfo:
        getattr(kestrand, name)(value)
    assert type(excinfo.value) is exc_type
    assert str(excinfo.value) == message


@pytest.mark.skipif(not BULK_NAMES, reason="bulk functions not built")
@pytest.mark.parametrize("name", BULK_NAMES)
@pytest.mark.parametrize("value, length", [(0, 0), (True, 1), (Index(3), 3), (False, 0)])
def test_bulk_count_accepts_integers(name, value, length):
    result = getattr(kestrand, name)(value)
    assert type(result) is list
    assert len(result) == length


# ---------------------------------------------------------------------------
# Callables that take no arguments are refused by the interpreter itself.

def _no_argument_targets():
    for name in ("uuid4", "uuid7", "uuid_v1mc"):
        if hasattr(kestrand, name):
            # The interpreter names module functions with their module.
            yield pytest.param(f"kestrand.{name}()", (lambda name=name: getattr(kestrand, name)), id=name)
    for name in ("__getstate__", "__getnewargs__", "__copy__"):
        yield pytest.param(f"UUID.{name}()", (lambda name=name: getattr(SAMPLE, name)), id=name)


@pytest.mark.parametrize("full, factory", list(_no_argument_targets()))
def test_no_argument_callables(full, factory):
    func = factory()
    with pytest.raises(TypeError) as excinfo:
        func(1)
    assert str(excinfo.value) == f"{full} takes no arguments (1 given)"
    with pytest.raises(TypeError) as excinfo:
        func(a=1)
    assert str(excinfo.value) == f"{full} takes no keyword arguments"
