"""Bulk calls that end part way: Ctrl-C during a long call, and an item that
cannot be made. Each runs in a fresh interpreter. Failures of the operating
system part way are in test_generators_failures.py.
"""

from __future__ import annotations

import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

from os_shim import PANIC, UNDER_ASAN

BULK = ["uuid4_bulk", "uuid7_bulk", "uuid4_as_strings_bulk", "uuid7_as_strings_bulk"]
MB = 1 << 20


def resident_bytes(pid: int | str = "self") -> int:
    with open(f"/proc/{pid}/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def child_env() -> dict[str, str]:
    # The child imports the same build of the module as this process.
    return {**os.environ, "PYTHONPATH": os.pathsep.join(p for p in sys.path if p)}


INTERRUPTED_CHILD = textwrap.dedent(
    """
    import os, sys
    import kestrand

    def resident_bytes():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    def peak_bytes():
        with open("/proc/self/status") as f:
            return next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmHWM:"))

    make = getattr(kestrand, sys.argv[1])
    before = resident_bytes()
    print(before, flush=True)
    try:
        make(40_000_000)
    except KeyboardInterrupt:
        print("interrupted", peak_bytes() - before, resident_bytes() - before, len(make(3)), flush=True)
    else:
        print("finished", flush=True)
    """
)


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc to see the call under way")
@pytest.mark.parametrize("name", ["uuid4_bulk", "uuid7_as_strings_bulk"])
def test_ctrl_c_ends_a_long_bulk_call(name):
    # The signal is sent once the call's items hold 128 MB, so it lands inside
    # the call however fast the machine is. The whole call would take 2 GB
    # (objects) or 3 GB (strings): a peak far below that shows the call ended
    # when the signal came, and not when a KeyboardInterrupt raised once it had
    # returned would. The deadlines only keep a hang from stalling the run.
    child = subprocess.Popen(
        [sys.executable, "-c", INTERRUPTED_CHILD, name],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env=child_env(),
    )
    try:
        before = int(child.stdout.readline())
        deadline = time.monotonic() + 120
        while resident_bytes(child.pid) - before < 128 * MB:
            assert child.poll() is None, child.communicate()
            assert time.monotonic() < deadline, "the call made nothing in two minutes"
            time.sleep(0.002)
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=120)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    assert child.returncode == 0, err
    word, peak, kept, length = out.split()
    assert word == "interrupted"
    assert int(peak) < 1024 * MB
    assert int(length) == 3  # the module works afterwards
    if not UNDER_ASAN:  # which keeps freed memory in quarantine
        # What the call had made is gone with it.
        assert int(kept) < 64 * MB


# Allocations counted from set_nomemory: the list, then one per item; the
# 10 000th falls past the first chunk. Only that one fails.
NO_MEMORY_CHILD = textwrap.dedent(
    """
    import json, sys
    import _testcapi
    import kestrand

    make = getattr(kestrand, sys.argv[1])

    def fail_once():
        _testcapi.set_nomemory(10_000, 10_001)
        try:
            make(20_000)
        except BaseException as error:
            caught = error
        else:
            caught = None
        finally:
            _testcapi.remove_mem_hooks()
        return None if caught is None else [f"{type(caught).__module__}.{type(caught).__qualname__}",
                                            list(caught.args)]

    outcomes = [fail_once() for _ in range(3)]
    blocks = sys.getallocatedblocks()
    outcomes += [fail_once() for _ in range(10)]
    blocks = sys.getallocatedblocks() - blocks
    print(json.dumps({"outcomes": outcomes, "blocks": blocks, "again": len(make(5000))}))
    """
)


@pytest.mark.parametrize(
    "name, raised",
    [
        ("uuid4_bulk", ["builtins.MemoryError", []]),
        ("uuid7_bulk", ["builtins.MemoryError", []]),
        # A str the interpreter cannot make is an internal failure.
        ("uuid4_as_strings_bulk", [PANIC, ["Python API call failed"]]),
        ("uuid7_as_strings_bulk", [PANIC, ["Python API call failed"]]),
    ],
)
def test_item_that_cannot_be_made_fails_the_whole_call(name, raised):
    pytest.importorskip("_testcapi")
    proc = subprocess.run(
        [sys.executable, "-c", NO_MEMORY_CHILD, name],
        capture_output=True,
        text=True,
        env=child_env(),
        timeout=300,
    )
    assert proc.returncode == 0, proc.stderr
    import json

    result = json.loads(proc.stdout)
    assert result["outcomes"] == [raised] * 13
    # Ten failed calls, each after some ten thousand items: none is kept.
    assert abs(result["blocks"]) < 1000
    assert result["again"] == 5000


HANDLER_CHILD = textwrap.dedent(
    """
    import gc, signal
    import kestrand

    runs = 0
    made = []

    def look_at_every_list(signum, frame):
        # What a profiler or a debugging handler might do: reach every list.
        global runs
        runs += 1
        for seen in gc.get_objects():
            if type(seen) is list:
                [*seen]
        # And make values on the thread whose call holds its random state.
        made.append(kestrand.uuid4())
        made.extend(kestrand.uuid4_bulk(3))
        # The next alarm only once this one is handled: a handler slower than
        # the period would otherwise run again inside itself, without end.
        # None once the call is over, or an alarm could outlive the handler.
        if calling:
            signal.setitimer(signal.ITIMER_REAL, 0.001)

    signal.signal(signal.SIGALRM, look_at_every_list)
    calling = True
    signal.setitimer(signal.ITIMER_REAL, 0.001)
    items = kestrand.uuid4_bulk(3_000_000)
    calling = False
    signal.setitimer(signal.ITIMER_REAL, 0)
    every = {item.int for item in items} | {item.int for item in made}
    print(runs, len(items), sum(item is None for item in items),
          len(every) == len(items) + len(made), all(item.version == 4 for item in made))
    """
)


def test_signal_handlers_between_chunks_see_no_empty_slot_and_make_values():
    # Handlers run between chunks, while the list still has empty slots; a
    # handler that reached the list then would read a null item. The timer
    # fires a millisecond after each handler ends, and three million items
    # take far longer.
    proc = subprocess.run(
        [sys.executable, "-c", HANDLER_CHILD], capture_output=True, text=True, env=child_env(), timeout=300
    )
    assert proc.returncode == 0, proc.stderr
    runs, length, nones, distinct, version_4 = proc.stdout.split()
    assert int(runs) >= 1
    assert (int(length), int(nones)) == (3_000_000, 0)
    # The handler's own values are good ones, none repeated in the list.
    assert (distinct, version_4) == ("True", "True")
