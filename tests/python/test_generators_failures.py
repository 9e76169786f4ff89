"""The generators when the operating system fails them, injected for real.

Each test runs a short program in a fresh interpreter under the failing-OS
shim (os_shim.py), which reports what each call did as JSON: the value made
(simple forms), or the exception's type and args, and the getrandom() requests
the call made.

With a fixed clock and counting bytes from the shim in place of random ones,
version 4 and version 7 values are fully predictable, so the state that
version 7 keeps across failures is checked value by value.
"""

from __future__ import annotations

import os

import pytest

from os_shim import (
    AT_FUTURE,
    AT_FUTURE_PLUS_1MS,
    CAUSALITY,
    ENTROPY,
    FUTURE_MS,
    PANIC,
    SEQ,
    TOO_LONG_CASE,
    UNDER_ASAN,
    libfaketime,
    panic_of,
    run_program,
)
from uuid_layout import seed_from_draw, v4_from_draw, v7_fields, v7_hex

GENERATORS = [
    ("uuid4",),
    ("uuid7",),
    ("uuid4_bulk", 3),
    ("uuid7_bulk", 3),
    ("uuid4_as_strings_bulk", 3),
    ("uuid7_as_strings_bulk", 3),
]
BULK_V4 = ["uuid4_bulk", "uuid4_as_strings_bulk"]
BULK_V7 = ["uuid7_bulk", "uuid7_as_strings_bulk"]
BULK = BULK_V4 + BULK_V7

def assert_valid(value, version: str, count: int | None = None):
    """A fresh value (or list of values) of the version, in simple form."""
    values = [value] if count is None else value
    assert isinstance(values, list) and len(values) == (1 if count is None else count)
    for item in values:
        assert len(item) == 32 and item == item.lower()
        assert item[12] == version and item[16] in "89ab", item


# --- getrandom failures ------------------------------------------------------


@pytest.mark.parametrize(
    "mode, text",
    [
        ("eio", "OS Error: 5"),
        ("errno=13", "OS Error: 13"),  # the number, never strerror's text
        ("errno=12345", "OS Error: 12345"),
        ("errno0", "errno: did not return a positive value"),
        ("errnoneg", "errno: did not return a positive value"),
        ("zero", "unexpected situation"),
        ("negative2", "unexpected situation"),
        TOO_LONG_CASE,
    ],
)
def test_getrandom_failure_raises_panic_and_next_call_works(run_with_shim, mode, text):
    result, stderr = run_with_shim(
        """
        out = []
        for call in PARAMS["calls"]:
            out.append([attempt(*call, getrandom=PARAMS["mode"]), attempt(*call)])
        report(out)
        """,
        mode=mode,
        calls=GENERATORS,
    )
    for (name, *args), (failed, again) in zip(GENERATORS, result):
        assert panic_of(failed) == ENTROPY + text, name
        # Only EINTR is retried: the first failing request ends the call.
        assert len(failed["requests"]) == 1, (name, failed["requests"])
        assert failed["requests"][0][0] in (8, 16)
        version = name[4]
        assert_valid(again["value"], version, *args)
    # Each failure leaves a diagnostic naming its message on standard error.
    assert stderr.count(ENTROPY + text) >= len(GENERATORS)


@pytest.mark.parametrize(
    "mode, single_requests",
    [
        ("eintr,fill=seq", [[16, -1]] * 3 + [[16, 16]]),
        ("eintr,times=50,fill=seq", [[16, -1]] * 50 + [[16, 16]]),
        ("short,chunk=3,fill=seq", [[16, 3], [13, 3], [10, 3], [7, 3], [4, 3], [1, 1]]),
        ("short,chunk=1,fill=seq", [[16 - i, 1] for i in range(16)]),
    ],
)
def test_interrupted_and_short_reads_are_invisible(run_with_shim, mode, single_requests):
    # Counting bytes make the values exact: a short read must be continued
    # where it stopped, and an interrupted call repeated with nothing skipped.
    result, stderr = run_with_shim(
        """
        m, clock = PARAMS["mode"], PARAMS["clock"]
        report([
            attempt("uuid4", getrandom=m),
            attempt("uuid4_bulk", 2, getrandom=m),
            attempt("uuid4_as_strings_bulk", 2, getrandom=m),
            attempt("uuid7", getrandom=m, clock=clock),
            attempt("uuid7_as_strings_bulk", 2, getrandom=m, clock=clock),
            attempt("uuid7_bulk", 1, getrandom=m, clock=clock),
        ])
        """,
        mode=mode,
        clock=AT_FUTURE,
    )
    single, bulk4, strings4, first7, strings7, bulk7 = result
    assert single == {"value": v4_from_draw(SEQ[0:16]), "requests": single_requests}
    pair = [v4_from_draw(SEQ[0:16]), v4_from_draw(SEQ[16:32])]
    assert bulk4["value"] == pair
    assert strings4["value"] == pair

    seed = seed_from_draw(SEQ[0:8])  # first value of a new millisecond
    assert first7["value"] == v7_hex(FUTURE_MS, seed, SEQ[8:24])
    assert strings7["value"] == [
        v7_hex(FUTURE_MS, seed + 1, SEQ[0:16]),
        v7_hex(FUTURE_MS, seed + 2, SEQ[16:32]),
    ]
    assert bulk7["value"] == [v7_hex(FUTURE_MS, seed + 3, SEQ[0:16])]
    assert ENTROPY not in stderr


def test_uuid7_reseed_failure_leaves_the_state_unchanged(run_with_shim):
    result, _ = run_with_shim(
        """
        report([
            attempt("uuid7", clock=PARAMS["t"]),
            attempt("uuid7", clock=PARAMS["t_plus_1"], getrandom="eio"),
            attempt("uuid7", clock=PARAMS["t"]),
            attempt("uuid7", clock=PARAMS["t_plus_1"], getrandom="pass,fill=seq"),
        ])
        """,
        t=AT_FUTURE,
        t_plus_1=AT_FUTURE_PLUS_1MS,
    )
    first, failed, same_ms, next_ms = result
    ms, counter = v7_fields(first["value"])
    assert ms == FUTURE_MS
    assert panic_of(failed) == ENTROPY + "OS Error: 5"
    assert failed["requests"] == [[8, -1]]  # the reseed of the new millisecond
    # Neither the millisecond nor the counter moved: back at the old
    # millisecond the counter simply continues, and no reseed is drawn.
    assert v7_fields(same_ms["value"]) == (ms, counter + 1)
    assert same_ms["requests"] == [[16, 16]]
    # The lock is usable again and the new millisecond reseeds normally.
    assert next_ms["value"] == v7_hex(FUTURE_MS + 1, seed_from_draw(SEQ[0:8]), SEQ[8:24])
    assert next_ms["requests"] == [[8, 8], [16, 16]]


def test_uuid7_tail_failure_keeps_the_advanced_state(run_with_shim):
    result, _ = run_with_shim(
        """
        t, t1 = PARAMS["t"], PARAMS["t_plus_1"]
        report([
            attempt("uuid7", clock=t),
            attempt("uuid7", clock=t, getrandom="eio"),
            attempt("uuid7", clock=t),
            attempt("uuid7", clock=t1, getrandom="eio,skip=1,fill=seq"),
            attempt("uuid7", clock=t1),
        ])
        """,
        t=AT_FUTURE,
        t_plus_1=AT_FUTURE_PLUS_1MS,
    )
    first, failed_same, after_same, failed_new, after_new = result
    ms, counter = v7_fields(first["value"])
    # Same millisecond: the failed value consumed counter + 1.
    assert panic_of(failed_same) == ENTROPY + "OS Error: 5"
    assert failed_same["requests"] == [[16, -1]]
    assert v7_fields(after_same["value"]) == (ms, counter + 2)
    # New millisecond: the reseed stood although the tail failed.
    assert panic_of(failed_new) == ENTROPY + "OS Error: 5"
    assert failed_new["requests"] == [[8, 8], [16, -1]]
    assert v7_fields(after_new["value"]) == (FUTURE_MS + 1, seed_from_draw(SEQ[0:8]) + 1)


# --- clock failures ----------------------------------------------------------


@pytest.mark.parametrize(
    "seconds, nanos, distance",
    [
        (0, 500_000_000, "500ms"),
        (1, 500_000_000, "1.5s"),
        (1, 1, "1.000000001s"),
        (1, 0, "1s"),
        (0, 999, "999ns"),
        (0, 1, "1ns"),
        (0, 1_500, "1.5µs"),
        (0, 12_345_000, "12.345ms"),
        (0, 999_999_999, "999.999999ms"),
        (86_400 * 365, 250_000_000, "31536000.25s"),
    ],
)
def test_clock_before_the_epoch(run_with_shim, seconds, nanos, distance):
    clock = f"before_epoch:{seconds}:{nanos}"
    result, stderr = run_with_shim(
        """
        report([attempt(name, *args, clock=PARAMS["clock"]) for name, *args in PARAMS["calls"]])
        """,
        clock=clock,
        calls=[("uuid7",), ("uuid7_bulk", 2), ("uuid7_as_strings_bulk", 2), ("uuid4",)],
    )
    message = CAUSALITY + f"SystemTimeError({distance})"
    *time_based, v4 = result
    for outcome in time_based:
        assert panic_of(outcome) == message
        assert outcome["requests"] == []  # the clock is read before anything is drawn
    assert_valid(v4["value"], "4")  # version 4 never reads the clock
    assert message in stderr


@pytest.mark.parametrize(
    "clock, fragments",
    [
        ("fail_errno", ["22", os.strerror(22)]),
        ("fail_errno:14", ["14", os.strerror(14)]),
        ("invalid_nsec", ["invalid timestamp"]),
        ("invalid_nsec:1500000000", ["invalid timestamp"]),
        ("invalid_nsec:-1", ["invalid timestamp"]),
        ("before_epoch:0:500000000", [CAUSALITY + "SystemTimeError(500ms)"]),
    ],
)
def test_clock_failure_leaves_the_uuid7_state_unchanged(run_with_shim, clock, fragments):
    result, _ = run_with_shim(
        """
        t = PARAMS["t"]
        report([
            attempt("uuid7", clock=t),
            attempt("uuid7", clock=PARAMS["clock"]),
            attempt("uuid7_bulk", 2, clock=PARAMS["clock"]),
            attempt("uuid7", clock=t),
        ])
        """,
        t=AT_FUTURE,
        clock=clock,
    )
    first, failed, failed_bulk, after = result
    for outcome in (failed, failed_bulk):
        message = panic_of(outcome)
        for fragment in fragments:
            assert fragment in message
        assert outcome["requests"] == []
    ms, counter = v7_fields(first["value"])
    assert v7_fields(after["value"]) == (ms, counter + 1)
    assert after["requests"] == [[16, 16]]


def test_clock_exactly_at_the_epoch(run_with_shim):
    # The first value of the process at millisecond 0: 0 is not later than
    # the initial stored millisecond 0, so the counter counts on from 0 and
    # nothing is reseeded.
    result, _ = run_with_shim(
        """
        report([
            attempt("uuid7", clock="fixed:0:0"),
            attempt("uuid7_as_strings_bulk", 2, clock="fixed:0:999999"),
            attempt("uuid7", clock="fixed:0:1000000", getrandom="pass,fill=seq"),
        ])
        """
    )
    first, same_ms, next_ms = result
    assert v7_fields(first["value"]) == (0, 1)
    assert first["value"].startswith("000000000000700080000001")
    assert first["requests"] == [[16, 16]]
    assert [v7_fields(v) for v in same_ms["value"]] == [(0, 2), (0, 3)]
    assert next_ms["value"] == v7_hex(1, seed_from_draw(SEQ[0:8]), SEQ[8:24])


def test_uuid7_millisecond_field_keeps_low_48_bits(run_with_shim):
    # Ascending clock readings, each in a new millisecond, so each reseeds.
    # (2**62 s saturates at 2**64 - 1 ms, one above the row before it.)
    rows = [
        (1, 999_999_999, 1_999),
        (281_474_976_710, 655_000_000, (1 << 48) - 1),
        (281_474_976_710, 656_000_000, 0),  # 2**48 ms, in the year 10889
        (281_474_976_710, 657_999_999, 1),
        (18_446_744_073_709_551, 614_000_000, (1 << 48) - 2),  # 2**64 - 2 ms
        (1 << 62, 0, (1 << 48) - 1),
    ]
    result, _ = run_with_shim(
        """
        report([attempt("uuid7", clock=f"fixed:{s}:{ns}", getrandom="pass,fill=seq")
                for s, ns, _ in PARAMS["rows"]])
        """,
        rows=rows,
    )
    seed = seed_from_draw(SEQ[0:8])
    for (seconds, nanos, field), outcome in zip(rows, result):
        assert outcome["value"] == v7_hex(field, seed, SEQ[8:24]), (seconds, nanos)
        assert outcome["requests"] == [[8, 8], [16, 16]], (seconds, nanos)

    # The saturated millisecond is the stored one: the same reading again
    # counts on instead of reseeding.
    again, _ = run_with_shim(
        """
        report([attempt("uuid7", clock=PARAMS["clock"]) for _ in range(2)])
        """,
        clock=f"fixed:{1 << 62}:0",
    )
    assert [v7_fields(o["value"])[0] for o in again] == [(1 << 48) - 1] * 2
    assert v7_fields(again[1]["value"])[1] == v7_fields(again[0]["value"])[1] + 1
    assert again[1]["requests"] == [[16, 16]]


# --- bulk calls --------------------------------------------------------------


@pytest.mark.parametrize("name", BULK)
def test_bulk_failure_stops_generation_and_returns_no_list(run_with_shim, name):
    result, _ = run_with_shim(
        """
        t, name = PARAMS["t"], PARAMS["name"]
        report([
            attempt("uuid7", clock=t),
            attempt(name, 5, clock=t, getrandom="eio,skip=2"),
            attempt("uuid7", clock=t),
            attempt(name, 5, clock="fail_errno,skip=2"),
            attempt("uuid7", clock=t),
            attempt(name, 4, clock=t),
        ])
        """,
        t=AT_FUTURE,
        name=name,
    )
    first, entropy_failed, after_entropy, clock_failed, after_clock, again = result
    ms, counter = v7_fields(first["value"])

    assert panic_of(entropy_failed) == ENTROPY + "OS Error: 5"
    # Two items made, the third one's request failed, nothing after it.
    assert entropy_failed["requests"] == [[16, 16], [16, 16], [16, -1]]
    if name in BULK_V7:
        message = panic_of(clock_failed)
        assert "22" in message and os.strerror(22) in message
        assert clock_failed["requests"] == [[16, 16], [16, 16]]
        # Items made before the failure advanced the state and are lost.
        assert v7_fields(after_entropy["value"]) == (ms, counter + 4)
        assert v7_fields(after_clock["value"]) == (ms, counter + 7)
    else:
        # Version 4 never reads the clock.
        assert_valid(clock_failed["value"], "4", 5)
        assert v7_fields(after_entropy["value"]) == (ms, counter + 1)
        assert v7_fields(after_clock["value"]) == (ms, counter + 2)
    assert_valid(again["value"], name[4], 4)


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc to read the RSS")
@pytest.mark.skipif(UNDER_ASAN, reason="AddressSanitizer keeps freed memory in quarantine")
@pytest.mark.parametrize("name", BULK)
def test_bulk_failure_part_way_keeps_nothing(run_with_shim, name):
    # A call is made chunk by chunk, each chunk's items built before the next
    # chunk's values are drawn, so a failure part way has tens of thousands of
    # items in the list to release. The request that fails is the first of a
    # chunk (4096 and 65536 start one for any chunk size that divides them)
    # or one inside a chunk (90000). A list or its items kept on the failure
    # path would show as traced memory and resident memory growing.
    result, _ = run_with_shim(
        """
        import tracemalloc

        def resident_bytes():
            with open("/proc/self/statm") as f:
                return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

        def fail(skip):
            outcome = attempt(PARAMS["name"], 100_000, getrandom=f"eio,skip={skip}")
            return [outcome.get("raised"), outcome.get("args"), outcome["requests"][-1]]

        outcomes, growth = [], {}
        for skip in PARAMS["skips"]:
            outcomes += [fail(skip) for _ in range(2)]
            before = resident_bytes()
            outcomes += [fail(skip) for _ in range(8)]
            growth[skip] = resident_bytes() - before
        tracemalloc.start()
        outcomes.append(fail(90_000))
        traced = tracemalloc.get_traced_memory()[0]
        outcomes += [fail(90_000) for _ in range(4)]
        traced = tracemalloc.get_traced_memory()[0] - traced
        tracemalloc.stop()
        report({"outcomes": outcomes, "growth": growth, "traced": traced,
                "again": attempt(PARAMS["name"], 5000)["value"]})
        """,
        name=name,
        skips=[4096, 65536, 90_000],
    )
    expected = [[PANIC, [ENTROPY + "OS Error: 5"], ["calls", skip + 1]] for skip in (4096, 65536, 90_000)
                for _ in range(10)] + [[PANIC, [ENTROPY + "OS Error: 5"], ["calls", 90_001]]] * 5
    assert result["outcomes"] == expected
    # One list left behind holds 90 000 slots (720 kB), and its items far more.
    assert all(growth < 2_000_000 for growth in result["growth"].values()), result["growth"]
    assert result["traced"] < 100_000
    assert_valid(result["again"], name[4], 5000)


@pytest.mark.parametrize("name", BULK)
def test_bulk_zero_draws_nothing_and_leaves_state(run_with_shim, name):
    result, _ = run_with_shim(
        """
        t = PARAMS["t"]
        report([
            attempt("uuid7", clock=t),
            attempt(PARAMS["name"], 0, getrandom="eio", clock="fail_errno"),
            attempt("uuid7", clock=t),
        ])
        """,
        t=AT_FUTURE,
        name=name,
    )
    first, empty, after = result
    assert empty == {"value": [], "requests": []}
    ms, counter = v7_fields(first["value"])
    assert v7_fields(after["value"]) == (ms, counter + 1)


@pytest.mark.parametrize(
    "name, n",
    [(name, 1 << 59) for name in BULK]
    + [(name, 384307168202282326) for name in ("uuid4_as_strings_bulk", "uuid7_as_strings_bulk")]
    + [(name, (1 << 64) - 1) for name in BULK],
)
def test_capacity_overflow_generates_nothing(run_with_shim, name, n):
    result, _ = run_with_shim(
        """
        t = PARAMS["t"]
        report([
            attempt("uuid7", clock=t),
            attempt(PARAMS["name"], PARAMS["n"], getrandom="eio", clock="fail_errno"),
            attempt("uuid7", clock=t),
        ])
        """,
        t=AT_FUTURE,
        name=name,
        n=n,
    )
    first, overflow, after = result
    # The limit is checked before any source is touched, failing or not.
    assert panic_of(overflow) == "capacity overflow"
    assert overflow["requests"] == []
    ms, counter = v7_fields(first["value"])
    assert v7_fields(after["value"]) == (ms, counter + 1)


@pytest.mark.skipif(UNDER_ASAN, reason="AddressSanitizer ends the process on an impossible allocation")
@pytest.mark.parametrize(
    "name, n",
    [
        ("uuid4_bulk", (1 << 59) - 1),
        ("uuid7_bulk", (1 << 59) - 1),
        ("uuid4_as_strings_bulk", 384307168202282325),
        ("uuid7_as_strings_bulk", 384307168202282325),
    ],
)
def test_largest_accepted_count_is_not_a_capacity_overflow(run_with_shim, name, n):
    # No machine has the exabytes this asks for; the call must fail cleanly,
    # without a list, but not with the capacity overflow of one item more.
    result, _ = run_with_shim(
        """
        report([attempt(PARAMS["name"], PARAMS["n"]), attempt(PARAMS["name"], 2)])
        """,
        name=name,
        n=n,
    )
    failed, again = result
    assert "raised" in failed, failed
    assert failed.get("args") != ["capacity overflow"]
    assert failed["requests"] == []
    assert_valid(again["value"], name[4], 2)


# --- a clock that steps back, through libfaketime ------------------------------


@pytest.mark.skipif(libfaketime() is None, reason="libfaketime is not installed")
@pytest.mark.skipif(UNDER_ASAN, reason="libfaketime and the AddressSanitizer runtime deadlock at start")
def test_uuid7_keeps_increasing_when_the_clock_steps_back(tmp_path):
    offset_file = tmp_path / "faketime"
    offset_file.write_text("+0\n")
    result, _ = run_program(
        """
        import time

        def offset(text):
            with open(PARAMS["file"], "w") as f:
                f.write(text + "\\n")

        before = [kestrand.uuid7().hex for _ in range(20)]
        now = time.time()
        offset("-10")
        stepped = time.time()
        after = [kestrand.uuid7().hex for _ in range(20)]
        after += kestrand.uuid7_as_strings_bulk(20)
        after += [u.hex for u in kestrand.uuid7_bulk(20)]
        offset("+0")
        # Let the clock pass the stored millisecond before resuming (sleeping
        # is not reliable under libfaketime, so wait for it).
        stored_ms = int(after[-1][:12], 16)
        while time.time_ns() // 1_000_000 <= stored_ms:
            pass
        resumed = [kestrand.uuid7().hex for _ in range(5)]
        report({"before": before, "after": after, "resumed": resumed,
                "step": now - stepped, "clock_ms": int(time.time() * 1000)})
        """,
        {"file": str(offset_file)},
        libfaketime(),
        {
            "FAKETIME_TIMESTAMP_FILE": str(offset_file),
            "FAKETIME_NO_CACHE": "1",
            "FAKETIME_DONT_FAKE_MONOTONIC": "1",
        },
    )
    assert result["step"] > 9, "libfaketime did not move the clock back"
    values = result["before"] + result["after"] + result["resumed"]
    assert values == sorted(values) and len(set(values)) == len(values)
    assert [int(v, 16) for v in values] == sorted(int(v, 16) for v in values)

    # While the clock is behind, values keep the stored millisecond and the
    # counter counts on by exactly one.
    last_ms, last_counter = v7_fields(result["before"][-1])
    assert [v7_fields(v) for v in result["after"]] == [
        (last_ms, last_counter + i) for i in range(1, len(result["after"]) + 1)
    ]
    # Once the clock is past the stored millisecond again, it is followed.
    resumed_ms, _ = v7_fields(result["resumed"][0])
    assert last_ms < resumed_ms <= result["clock_ms"]


def test_fork_while_another_thread_holds_the_version_7_lock(run_with_shim):
    # A bulk call reseeds its counter under the version 7 lock, with the
    # interpreter lock released; here the random source says when that 8-byte
    # request is under way, and then takes 300 ms. A fork in that moment must
    # not hand the child a lock that no thread of the child will ever release.
    result, _ = run_with_shim(
        """
        import threading

        inside_r, inside_w = os.pipe()
        _set("KESTRAND_SHIM_CLOCK", PARAMS["t"])
        _set("KESTRAND_SHIM_GETRANDOM", f"pass,len=8,times=1,notify_fd={inside_w},delay_ms=300")
        worker = threading.Thread(target=kestrand.uuid7_bulk, args=(3,))
        worker.start()
        os.read(inside_r, 1)  # the worker holds the lock
        pid = os.fork()
        if pid == 0:
            kestrand.uuid7()
            os._exit(0)
        finished, status = wait_child(pid)
        worker.join()
        report({"child_finished": finished, "status": status})
        """,
        t=AT_FUTURE,
    )
    assert result == {"child_finished": True, "status": 0}
