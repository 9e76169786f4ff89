"""uuid1 and uuid_v1mc under a failing operating system, and across fork().

Each test runs a short program in a fresh interpreter under the failing-OS
shim (os_shim.py). With counting bytes from the shim in place of random ones,
the per-thread generator's key is known, so uuid_v1mc's nodes are predicted
word for word from the ChaCha12 keystream; the getrandom() log shows when the
generator and the clock sequence ask the operating system for seeds.
"""

from __future__ import annotations

import pytest

from os_shim import CAUSALITY, ENTROPY, SEQ, TOO_LONG_CASE, panic_of
from uuid_layout import chacha_words, v1mc_node

THREAD_RNG = "could not initialize thread_rng: "
DRAWS_PER_REFILL = 32
DRAWS_BEFORE_RESEED = 256 * DRAWS_PER_REFILL


def node_of(simple: str) -> int:
    return int(simple[20:], 16)


def clock_seq_of(simple: str) -> int:
    return int(simple[16:20], 16) & 0x3FFF


def test_first_draw_seeds_the_generator_and_the_clock_sequence(run_with_shim):
    result, _ = run_with_shim(
        """
        first = attempt("uuid_v1mc", getrandom="pass,fill=seq")
        rest = [kestrand.uuid_v1mc().hex for _ in range(40)]
        report({"first": first, "rest": rest})
        """
    )
    first = result["first"]
    # 32 bytes for the generator's key, then 2 for the clock sequence.
    assert first["requests"] == [[32, 32], [2, 2]]
    words = chacha_words(SEQ[:32], 0, 2 * 41)
    values = [first["value"]] + result["rest"]
    assert [node_of(v) for v in values] == [v1mc_node(words[2 * i], words[2 * i + 1]) for i in range(41)]
    seed = SEQ[32] | SEQ[33] << 8
    assert [clock_seq_of(v) for v in values] == [(seed + i) & 0x3FFF for i in range(41)]


@pytest.mark.parametrize(
    "mode, text",
    [
        ("eio", "Input/output error"),
        ("errno=11", "Resource temporarily unavailable"),
        ("errno=12345", "Unknown error 12345"),
        ("errno0", "errno: did not return a positive value"),
        ("zero", "unexpected situation"),
        TOO_LONG_CASE,
    ],
)
def test_generator_that_cannot_be_seeded_raises_and_the_next_call_retries(run_with_shim, mode, text):
    result, stderr = run_with_shim(
        """
        failed = attempt("uuid_v1mc", getrandom=PARAMS["mode"])
        again = attempt("uuid_v1mc")
        report([failed, again])
        """,
        mode=mode,
    )
    failed, again = result
    assert panic_of(failed) == THREAD_RNG + text
    assert [length for length, _ in failed["requests"]] == [32]
    assert THREAD_RNG + text in stderr
    # Nothing was kept: the next call creates the generator afresh.
    assert [length for length, _ in again["requests"]] == [32, 2]
    assert again["value"][12] == "1"


@pytest.mark.parametrize("mode", ["short,chunk=5", "eintr,times=3"])
def test_interrupted_and_short_seed_reads_are_invisible(run_with_shim, mode):
    result, _ = run_with_shim(
        """
        report(attempt("uuid_v1mc", getrandom=PARAMS["mode"] + ",fill=seq"))
        """,
        mode=mode,
    )
    words = chacha_words(SEQ[:32], 0, 2)
    assert node_of(result["value"]) == v1mc_node(*words)


def test_clock_sequence_seed_failure_is_not_retried(run_with_shim):
    result, _ = run_with_shim(
        """
        failed = attempt("uuid1", 1, getrandom="eio")
        report([failed, attempt("uuid1", 1), attempt("uuid1", 1)])
        """
    )
    failed, *later = result
    assert panic_of(failed) == ENTROPY + "OS Error: 5"
    assert failed["requests"] == [[2, -1]]
    # The sequence stays marked as seeded and counts on from where it stood.
    assert [clock_seq_of(outcome["value"]) for outcome in later] == [0, 1]
    assert all(outcome["requests"] == [] for outcome in later)


def test_clock_before_the_epoch_keeps_the_clock_sequence_seed(run_with_shim):
    result, stderr = run_with_shim(
        """
        clock = "before_epoch:1:500000000"
        report([
            attempt("uuid1", 1, getrandom="pass,fill=seq", clock=clock),
            attempt("uuid_v1mc", clock=clock),
            attempt("uuid1", 1),
        ])
        """
    )
    v1, v1mc, after = result
    message = CAUSALITY + "SystemTimeError(1.5s)"
    assert panic_of(v1) == message and panic_of(v1mc) == message
    assert v1["requests"] == [[2, 2]]  # seeded before the clock was read
    # The seed from the failed call stands, and neither failure used it.
    assert clock_seq_of(after["value"]) == (SEQ[0] | SEQ[1] << 8) & 0x3FFF


def test_generator_reseeds_after_64_kib_and_a_failed_reseed_is_silent(run_with_shim):
    result, _ = run_with_shim(
        """
        kestrand.uuid_v1mc()  # creates the generator and seeds the clock sequence
        def requests_during(count, getrandom=None):
            _shim.kestrand_shim_reset_log()
            _set("KESTRAND_SHIM_GETRANDOM", getrandom)
            try:
                for _ in range(count):
                    kestrand.uuid_v1mc()
            finally:
                _set("KESTRAND_SHIM_GETRANDOM", None)
            return _requests()

        report({
            "quiet": requests_during(PARAMS["draws"] - 1),
            "reseed_fails": requests_during(1, "eio,len=32"),
            "quiet_again": requests_during(PARAMS["after_reseed"]),
            "retry": requests_during(1),
        })
        """,
        draws=DRAWS_BEFORE_RESEED,
        # The rest of that refill's buffer, then 255 refills without a reseed.
        after_reseed=DRAWS_PER_REFILL - 1 + 255 * DRAWS_PER_REFILL,
    )
    assert result["quiet"] == []
    assert result["reseed_fails"] == [[32, -1]]  # and uuid_v1mc raised nothing
    assert result["quiet_again"] == []
    assert result["retry"] == [[32, 32]]


def test_fork_parent_and_child_part_ways_at_their_next_refill(run_with_shim):
    result, _ = run_with_shim(
        """
        import threading

        kestrand.uuid_v1mc()  # one draw: 31 remain in the buffer
        read_end, write_end = os.pipe()
        pid = os.fork()
        nodes = [kestrand.uuid_v1mc().node for _ in range(40)]
        if pid == 0:
            os.write(write_end, json.dumps(nodes).encode())
            os._exit(0)
        os.close(write_end)
        data, finished, status = collect_child(pid, read_end)
        child = json.loads(data) if (finished, status) == (True, 0) else None

        # A generator created after a fork reseeds at its first refill.
        _shim.kestrand_shim_reset_log()
        thread = threading.Thread(target=kestrand.uuid_v1mc)
        thread.start()
        thread.join()
        report({"parent": nodes, "child": child, "new_thread": _requests()})
        """
    )
    parent, child = result["parent"], result["child"]
    assert child is not None, "the child failed or did not finish"
    assert parent[:31] == child[:31]
    assert all(p != c for p, c in zip(parent[31:], child[31:]))
    assert result["new_thread"] == [[32, 32], [32, 32]]


def test_failed_fork_handler_registration_is_final(run_with_shim):
    # Without the handler a forked child would serve its parent's values, so
    # no generator may be made; and the registration is not tried again.
    result, _ = run_with_shim(
        """
        os.environ["KESTRAND_SHIM_ATFORK"] = "fail:12"
        first = attempt("uuid_v1mc")
        del os.environ["KESTRAND_SHIM_ATFORK"]
        report([first, attempt("uuid_v1mc"), attempt("uuid1", 1)])
        """
    )
    first, second, v1 = result
    message = "could not register the fork handler of thread_rng: pthread_atfork returned 12"
    assert panic_of(first) == message
    assert panic_of(second) == message
    assert v1["value"][12] == "1"  # uuid1 needs no generator
