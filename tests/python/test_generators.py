"""uuid4, uuid7 and the four bulk functions, in the test process itself.

Layouts and ordering are checked on many values at once; argument handling of
the bulk functions against the exact messages; the interpreter lock is shown
to be released by another thread that keeps running during a long bulk call;
and several threads share the version 7 state without ever producing a
duplicate or a value out of order. Failures of the operating system are in
test_generators_failures.py.
"""

from __future__ import annotations

import sys
import threading
import time
import uuid

import pytest

import kestrand
from uuid_layout import v7_fields

BULK_OBJECTS = ["uuid4_bulk", "uuid7_bulk"]
BULK_STRINGS = ["uuid4_as_strings_bulk", "uuid7_as_strings_bulk"]
BULK = BULK_OBJECTS + BULK_STRINGS
STRING_LIMIT = 384307168202282325  # largest count of the string variants
OBJECT_LIMIT = (1 << 59) - 1  # largest count of the object variants

VERSION_BITS = 0xF << 76
VARIANT_BITS = 0x3 << 62
FREE_BITS_V4 = ((1 << 128) - 1) & ~VERSION_BITS & ~VARIANT_BITS


def version_of(name: str) -> int:
    return int(name[4])


def as_simple(item) -> str:
    return item if isinstance(item, str) else item.hex


def panic_type():
    try:
        kestrand.uuid4_bulk(OBJECT_LIMIT + 1)
    except BaseException as error:  # noqa: B036 - PanicException is not an Exception
        return type(error)
    raise AssertionError("capacity overflow did not raise")


# --- layouts -----------------------------------------------------------------


@pytest.mark.parametrize(
    "make, version",
    [
        (lambda: [kestrand.uuid4() for _ in range(200)], 4),
        (lambda: [kestrand.uuid7() for _ in range(200)], 7),
        (lambda: kestrand.uuid4_bulk(200), 4),
        (lambda: kestrand.uuid7_bulk(200), 7),
    ],
    ids=["uuid4", "uuid7", "uuid4_bulk", "uuid7_bulk"],
)
def test_layout_of_generated_objects(make, version):
    values = make()
    assert len(values) == 200 and len(set(values)) == 200
    for value in values:
        assert type(value) is kestrand.UUID
        assert value.version == version
        assert value.variant == "specified in RFC 4122"
        text = str(value)
        assert text[14] == str(version) and text[19] in "89ab"
        assert (value.int >> 76) & 0xF == version and (value.int >> 62) & 0x3 == 0b10
        # The standard library reads the same value the same way.
        reference = uuid.UUID(text)
        assert reference.int == value.int and reference.version == version


@pytest.mark.parametrize(
    "make",
    [
        lambda: [kestrand.uuid4().int for _ in range(300)],
        lambda: [u.int for u in kestrand.uuid4_bulk(300)],
        lambda: [int(s, 16) for s in kestrand.uuid4_as_strings_bulk(300)],
    ],
    ids=["uuid4", "uuid4_bulk", "uuid4_as_strings_bulk"],
)
def test_every_free_bit_of_uuid4_takes_both_values(make):
    values = make()
    ones = 0
    zeros = 0
    for value in values:
        ones |= value
        zeros |= ~value & ((1 << 128) - 1)
    # A stuck free bit has probability 2 * 2**-300 of passing unnoticed.
    assert ones & FREE_BITS_V4 == FREE_BITS_V4, f"stuck at 0: {FREE_BITS_V4 & ~ones:#034x}"
    assert zeros & FREE_BITS_V4 == FREE_BITS_V4, f"stuck at 1: {FREE_BITS_V4 & ~zeros:#034x}"
    assert bin(FREE_BITS_V4).count("1") == 122


def test_uuid7_strictly_increasing_counter_steps_and_reseeds():
    # Generate until the run holds both cases, a step within one millisecond
    # and a new millisecond, however fast or slow the machine is; the deadline
    # only stops a broken generator from looping for ever.
    values = []
    deadline = time.monotonic() + 30
    while True:
        values += [kestrand.uuid7() for _ in range(1000)]
        stamps = {v.bytes[:6] for v in values}
        if len(stamps) >= 3 and len(stamps) < len(values):
            break
        assert time.monotonic() < deadline, "no new millisecond within 30 s"
    ints = [v.int for v in values]
    assert ints == sorted(ints) and len(set(ints)) == len(ints)
    assert [v.bytes for v in values] == sorted(v.bytes for v in values)
    assert [str(v) for v in values] == sorted(str(v) for v in values)

    same_ms = new_ms = 0
    for previous, current in zip(values, values[1:]):
        prev_ms, prev_counter = v7_fields(previous.hex)
        ms, counter = v7_fields(current.hex)
        if ms == prev_ms:
            same_ms += 1
            assert current.bytes[:6] == previous.bytes[:6]
            assert counter == prev_counter + 1
        else:
            new_ms += 1
            assert ms > prev_ms
            # A fresh 41-bit seed: the counter's top bit is clear.
            assert 0x70 <= current.bytes[6] <= 0x77
            assert counter < 1 << 41
    assert same_ms > 0 and new_ms > 0


def test_uuid7_time_is_the_wall_clock():
    for _ in range(50):
        before = time.time_ns() // 1_000_000
        value = kestrand.uuid7()
        after = time.time_ns() // 1_000_000
        ms, _ = v7_fields(value.hex)
        assert before <= ms <= after
        assert int.from_bytes(value.bytes[:6], "big") == ms


# --- bulk functions ----------------------------------------------------------


@pytest.mark.parametrize("name", BULK)
def test_bulk_counts(name):
    function = getattr(kestrand, name)
    assert function(0) == []
    assert len(function(True)) == 1
    assert len(function(False)) == 0
    assert len(function(n=3)) == 3
    assert len(function(7)) == 7

    class Count:
        def __index__(self):
            return 2

    assert len(function(Count())) == 2


@pytest.mark.parametrize("name", BULK)
@pytest.mark.parametrize(
    "n, error, message",
    [
        (3.0, TypeError, "argument 'n': 'float' object cannot be interpreted as an integer"),
        ("3", TypeError, "argument 'n': 'str' object cannot be interpreted as an integer"),
        (None, TypeError, "argument 'n': 'NoneType' object cannot be interpreted as an integer"),
        (-1, OverflowError, "can't convert negative int to unsigned"),
        (1 << 64, OverflowError, "int too big to convert"),
    ],
)
def test_bulk_rejects_bad_counts(name, n, error, message):
    with pytest.raises(error) as caught:
        getattr(kestrand, name)(n)
    assert type(caught.value) is error
    assert caught.value.args == (message,)
    # The rewritten TypeError replaces the interpreter's, without chaining it.
    assert caught.value.__cause__ is None and caught.value.__context__ is None


def test_bulk_index_error_passes_through_unprefixed():
    class BadIndex:
        def __index__(self):
            raise ValueError("no count here")

    class TypeErrorSubclass(TypeError):
        pass

    class BadIndexTypeError:
        def __index__(self):
            raise TypeErrorSubclass("subclass message")

    with pytest.raises(ValueError) as caught:
        kestrand.uuid4_bulk(BadIndex())
    assert caught.value.args == ("no count here",)
    # Only exactly TypeError gets the argument prefix.
    with pytest.raises(TypeErrorSubclass) as caught_sub:
        kestrand.uuid7_bulk(BadIndexTypeError())
    assert caught_sub.value.args == ("subclass message",)


@pytest.mark.parametrize(
    "name, n",
    [(name, OBJECT_LIMIT + 1) for name in BULK]
    + [(name, STRING_LIMIT + 1) for name in BULK_STRINGS]
    + [(name, (1 << 64) - 1) for name in BULK],
)
def test_bulk_capacity_overflow(name, n):
    with pytest.raises(BaseException) as caught:
        getattr(kestrand, name)(n)
    assert type(caught.value) is panic_type()
    assert caught.value.args == ("capacity overflow",)


def test_panic_exception_type():
    panic = panic_type()
    assert panic.__name__ == "PanicException"
    assert panic.__qualname__ == "PanicException"
    assert panic.__module__ == "pyo3_runtime"
    assert issubclass(panic, BaseException) and not issubclass(panic, Exception)
    assert panic.__bases__ == (BaseException,)
    # One type for every internal failure, and `except Exception` lets it through.
    caught = None
    caught_as_exception = False
    try:
        try:
            kestrand.uuid7_as_strings_bulk(STRING_LIMIT + 1)
        except Exception:  # noqa: BLE001 - must not catch it
            caught_as_exception = True
    except BaseException as error:  # noqa: B036
        caught = error
    assert not caught_as_exception
    assert type(caught) is panic
    assert caught.args == ("capacity overflow",)
    assert str(caught) == "capacity overflow"


@pytest.mark.parametrize("name", BULK)
def test_bulk_items(name):
    items = getattr(kestrand, name)(500)
    version = version_of(name)
    assert type(items) is list and len(items) == 500
    texts = [as_simple(item) for item in items]
    for item, text in zip(items, texts):
        if name in BULK_STRINGS:
            assert type(item) is str
        else:
            assert type(item) is kestrand.UUID and item.version == version
        assert len(text) == 32 and set(text) <= set("0123456789abcdef")
        assert text == uuid.UUID(text).hex
        assert text[12] == str(version) and text[16] in "89ab"
    assert len(set(texts)) == 500
    if version == 7:
        assert texts == sorted(texts)
        if name in BULK_OBJECTS:
            assert [u.int for u in items] == sorted(u.int for u in items)
        # Items are made one after another from the shared state.
        for previous, current in zip(texts, texts[1:]):
            prev_ms, prev_counter = v7_fields(previous)
            ms, counter = v7_fields(current)
            assert (ms, counter) > (prev_ms, prev_counter)
            if ms == prev_ms:
                assert counter == prev_counter + 1


def test_uuid7_bulk_continues_the_sequence_of_single_calls():
    before = kestrand.uuid7()
    middle = kestrand.uuid7_bulk(100) + [kestrand.UUID(s) for s in kestrand.uuid7_as_strings_bulk(100)]
    after = kestrand.uuid7()
    sequence = [before, *middle, after]
    assert [u.int for u in sequence] == sorted(u.int for u in sequence)
    assert len({u.int for u in sequence}) == len(sequence)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: kestrand.uuid4_bulk(1, 2), "uuid4_bulk() takes 1 positional arguments but 2 were given"),
        (lambda: kestrand.uuid7_bulk(1, 2, 3), "uuid7_bulk() takes 1 positional arguments but 3 were given"),
        (lambda: kestrand.uuid4_bulk(), "uuid4_bulk() missing 1 required positional argument: 'n'"),
        (
            lambda: kestrand.uuid7_as_strings_bulk(),
            "uuid7_as_strings_bulk() missing 1 required positional argument: 'n'",
        ),
        (
            lambda: kestrand.uuid4_as_strings_bulk(m=1),
            "uuid4_as_strings_bulk() got an unexpected keyword argument 'm'",
        ),
        (lambda: kestrand.uuid4_bulk(1, n=1), "uuid4_bulk() got multiple values for argument 'n'"),
    ],
)
def test_bulk_binding_messages(call, message):
    with pytest.raises(TypeError) as caught:
        call()
    assert type(caught.value) is TypeError
    assert caught.value.args == (message,)


@pytest.mark.parametrize("name", ["uuid4", "uuid7"])
def test_single_generators_take_no_arguments(name):
    function = getattr(kestrand, name)
    with pytest.raises(TypeError) as positional:
        function(1)
    assert positional.value.args == (f"kestrand.{name}() takes no arguments (1 given)",)
    with pytest.raises(TypeError) as keyword:
        function(a=1)
    assert keyword.value.args == (f"kestrand.{name}() takes no keyword arguments",)


# --- the function table ------------------------------------------------------


@pytest.mark.parametrize(
    "name, signature",
    [("uuid4", "()"), ("uuid7", "()")] + [(name, "(n)") for name in BULK],
)
def test_function_table_entries(name, signature):
    function = getattr(kestrand, name)
    assert type(function).__name__ == "builtin_function_or_method"
    assert function.__name__ == name and function.__qualname__ == name
    assert function.__text_signature__ == signature
    assert function.__doc__ is None
    assert function.__module__ == "kestrand"
    assert function.__self__ is kestrand
    assert name in kestrand.__all__


# --- threads -----------------------------------------------------------------


@pytest.mark.parametrize("name", BULK)
def test_bulk_call_releases_the_interpreter_lock(name, run_with_shim):
    # The random source of a bulk call (in a worker thread) stops inside its
    # first 16-byte request, announces it through one pipe and waits for a byte
    # on another. The main thread answers only after running Python code, which
    # needs the interpreter lock: had the bulk call kept it, neither thread
    # could go on, and the child would hang instead of reporting.
    result, _ = run_with_shim(
        """
        import threading

        name = PARAMS["name"]
        announce_r, announce_w = os.pipe()
        answer_r, answer_w = os.pipe()
        _set("KESTRAND_SHIM_GETRANDOM",
             f"pass,len=16,times=1,notify_fd={announce_w},wait_fd={answer_r}")
        results = []
        worker = threading.Thread(target=lambda: results.append(getattr(kestrand, name)(5)))
        worker.start()
        os.read(announce_r, 1)
        ran_meanwhile = [worker.is_alive(), len(results)]  # Python code during the call
        os.write(answer_w, b"!")
        worker.join()
        report({"meanwhile": ran_meanwhile, "count": len(results[0])})
        """,
        name=name,
    )
    assert result == {"meanwhile": [True, 0], "count": 5}


def test_threads_share_the_uuid7_state_without_duplicates():
    threads = 4
    rounds = 400
    barrier = threading.Barrier(threads)
    sequences: list[list[int]] = [[] for _ in range(threads)]
    lists: list[list[int]] = []
    lists_lock = threading.Lock()

    def work(index):
        barrier.wait()
        mine = sequences[index]
        for i in range(rounds):
            mine.append(kestrand.uuid7().int)
            if i % 2:
                batch = [u.int for u in kestrand.uuid7_bulk(40)]
            else:
                batch = [int(s, 16) for s in kestrand.uuid7_as_strings_bulk(40)]
            mine.extend(batch)
            with lists_lock:
                lists.append(batch)

    # Frequent switches interleave the single calls of different threads too.
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    try:
        workers = [threading.Thread(target=work, args=(i,)) for i in range(threads)]
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()
    finally:
        sys.setswitchinterval(interval)

    everything = [value for sequence in sequences for value in sequence]
    assert len(everything) == threads * rounds * 41
    assert len(set(everything)) == len(everything)
    # Each thread sees its own values strictly increasing, bulk items included.
    for sequence in sequences:
        assert all(a < b for a, b in zip(sequence, sequence[1:]))
    for batch in lists:
        assert all(a < b for a, b in zip(batch, batch[1:]))
    for value in everything:
        assert (value >> 76) & 0xF == 7 and (value >> 62) & 0x3 == 0b10


def test_panic_coming_back_through_python_code_is_raised_anew(capfd):
    """An internal failure inside Python code that the module called (here an
    __index__ that itself hits one) surfaces as a new PanicException with the
    same message, after the original is printed with its traceback."""

    class PanickingIndex:
        def __index__(self):
            kestrand.uuid4_bulk(OBJECT_LIMIT + 1)

    with pytest.raises(BaseException) as caught:
        kestrand.UUID(int=PanickingIndex())
    assert type(caught.value) is panic_type()
    assert caught.value.args == ("capacity overflow",)
    assert caught.value.__context__ is None
    err = capfd.readouterr().err
    assert "Traceback (most recent call last)" in err
    assert "in __index__" in err
    assert "pyo3_runtime.PanicException: capacity overflow" in err
