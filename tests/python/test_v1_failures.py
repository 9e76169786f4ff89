"""uuid1 and uuid_v1mc under a failing operating system, and across fork().

Each test runs a short program in a fresh interpreter under the failing-OS
shim (os_shim.py). With counting bytes from the shim in place of random ones,
the per-thread generator's key is known, so uuid_v1mc's nodes are predicted
word for word from the ChaCha12 keystream; the getrandom() log shows when the
generator and the clock sequence ask the operating system for seeds.
"""

from __future__ import annotations

import json
import os
import subprocess
import sys
import textwrap

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


@pytest.mark.parametrize("child_reseed", ["pass", "eio,len=32"], ids=["child reseeds", "child reseed fails"])
def test_fork_child_draws_none_of_its_parents_nodes(run_with_shim, child_reseed):
    result, _ = run_with_shim(
        """
        import threading

        # Seeds the generator with a key the test knows (and the clock
        # sequence); 31 draws remain in the buffer.
        attempt("uuid_v1mc", getrandom="pass,fill=seq")
        read_end, write_end = os.pipe()
        pid = os.fork()
        if pid == 0:
            _shim.kestrand_shim_reset_log()
            _set("KESTRAND_SHIM_GETRANDOM", PARAMS["child_reseed"])
            nodes = [kestrand.uuid_v1mc().node for _ in range(40)]
            os.write(write_end, json.dumps({"nodes": nodes, "pid": os.getpid(), "requests": _requests()}).encode())
            os._exit(0)
        _shim.kestrand_shim_reset_log()
        nodes = [kestrand.uuid_v1mc().node for _ in range(40)]
        parent_requests = _requests()
        os.close(write_end)
        data, finished, status = collect_child(pid, read_end)
        child = json.loads(data) if (finished, status) == (True, 0) else None

        # A generator created after a fork seeds once, as in a process that never forked.
        _shim.kestrand_shim_reset_log()
        thread = threading.Thread(target=kestrand.uuid_v1mc)
        thread.start()
        thread.join()
        report({"parent": nodes, "parent_requests": parent_requests, "child": child,
                "new_thread": _requests()})
        """,
        child_reseed=child_reseed,
    )
    # The parent serves its buffer on, then its key's next refill, asking for nothing.
    words = chacha_words(SEQ[:32], 0, 2 * 41)
    assert result["parent"] == [v1mc_node(words[2 * i], words[2 * i + 1]) for i in range(1, 41)]
    assert result["parent_requests"] == []
    child = result["child"]
    assert child is not None, "the child failed or did not finish"
    assert set(child["nodes"]).isdisjoint(result["parent"])
    if child_reseed == "pass":
        # A fresh key at its first draw, and its own clock sequence.
        assert child["requests"] == [[32, 32], [2, 2]]
    else:
        # No fresh key: the child goes on from the parent's key and block in a
        # stream of its own, numbered by its process id.
        assert child["requests"] == [[32, -1], [2, 2]]
        words = chacha_words(SEQ[:32], 4, 2 * 40, stream=child["pid"])
        assert child["nodes"] == [v1mc_node(words[2 * i], words[2 * i + 1]) for i in range(40)]
    assert result["new_thread"] == [[32, 32]]


def test_module_refuses_to_load_without_its_fork_handlers(shim_library):
    # Without them a child could deadlock on a lock copied held, or serve its
    # parent's values; the registration, at load time, is not tried again.
    program = textwrap.dedent(
        """
        import json
        outcomes = []
        for _ in range(2):
            try:
                import kestrand
                outcomes.append("loaded")
            except BaseException as error:
                outcomes.append([type(error).__qualname__, *error.args])
        print(json.dumps(outcomes))
        """
    )
    env = {k: v for k, v in os.environ.items() if not k.startswith(("KESTRAND_SHIM_", "FAKETIME"))}
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    env["LD_PRELOAD"] = " ".join(filter(None, [os.environ.get("LD_PRELOAD", ""), str(shim_library)]))
    env["KESTRAND_SHIM_ATFORK"] = "fail:12"
    proc = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True, env=env, timeout=120)
    assert proc.returncode == 0, proc.stderr
    message = "could not register the fork handlers: pthread_atfork returned 12"
    assert json.loads(proc.stdout) == [["PanicException", message]] * 2
    assert message in proc.stderr
