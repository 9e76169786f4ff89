"""No value made on both sides of a fork, with the wall clock frozen.

Each case runs in a fresh interpreter whose wall clock stands still (the
monotonic clock runs, so pools and timeouts work): two processes that read
the same tick, as a coarse or stopped clock makes them. Then only what each
process draws for itself, or resets at the fork, tells their values apart.
Every case uses kestrand before it forks, so the state a child inherits is
seeded and its buffers are part-used.

The clock is frozen by libfaketime, and again by the failing-OS shim's fixed
clock, which also runs under AddressSanitizer (libfaketime deadlocks with it
at start).
"""

from __future__ import annotations

import pytest

from os_shim import UNDER_ASAN, libfaketime, run_program

FROZEN_AT = 1735689600  # 2025-01-01T00:00:00Z

# Runs on each side: N values of every generator, and the nodes of uuid_v1mc.
DRAW = r'''
import threading

N = 1000


def draw():
    out = {
        "uuid1": [kestrand.uuid1().hex for _ in range(N)],
        "uuid_v1mc": [kestrand.uuid_v1mc().hex for _ in range(N)],
        "uuid4": [kestrand.uuid4().hex for _ in range(N)],
        "uuid7": [kestrand.uuid7().hex for _ in range(N)],
        "uuid4_bulk": [u.hex for u in kestrand.uuid4_bulk(N)],
        "uuid4_as_strings_bulk": [s.replace("-", "") for s in kestrand.uuid4_as_strings_bulk(N)],
        "uuid7_bulk": [u.hex for u in kestrand.uuid7_bulk(N)],
        "uuid7_as_strings_bulk": [s.replace("-", "") for s in kestrand.uuid7_as_strings_bulk(N)],
    }
    out["pid"] = os.getpid()
    return out


def warm():
    """Uses every generator: the state a child will inherit. Returns the last
    version 7 value, and the clock sequence the next version 1 value takes."""
    kestrand.uuid4(), kestrand.uuid4_bulk(3), kestrand.uuid1()
    v7 = [kestrand.uuid7(), *kestrand.uuid7_bulk(3)]
    last_v1 = kestrand.uuid_v1mc()
    return {"last_v7": max(u.hex for u in v7), "next_seq": ((int(last_v1.hex[16:20], 16) & 0x3FFF) + 1) & 0x3FFF}


def in_child(body):
    """(what `body()` returned in a forked child, via a pipe) as JSON."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read_end)
        try:
            os.write(write_end, json.dumps(body()).encode())
        finally:
            os._exit(0)
    os.close(write_end)
    return pid, read_end


def collect(pid, read_end):
    # Read to the end, then wait: no sleep, which libfaketime's frozen clock
    # can refuse (the whole program runs under a timeout).
    data = b""
    while chunk := os.read(read_end, 65536):
        data += chunk
    os.close(read_end)
    assert os.waitpid(pid, 0)[1] == 0
    return json.loads(data)
'''

SCENARIOS = {
    "parent and child": r'''
before = warm()
pid, read_end = in_child(draw)
parent = draw()
report({"a": parent, "b": collect(pid, read_end), "a_is_parent": True, **before})
''',
    "two workers of a fork pool": r'''
import multiprocessing

before = warm()
context = multiprocessing.get_context("fork")
both_started = context.Barrier(2)


def work(_):
    both_started.wait(timeout=60)  # so each worker takes one task
    return draw()


with context.Pool(2) as pool:
    a, b = pool.map(work, [0, 1], chunksize=1)
assert a["pid"] != b["pid"]
report({"a": a, "b": b, "a_is_parent": False, **before})
''',
    "child and grandchild": r'''
def child():
    before = warm()
    pid, read_end = in_child(draw)
    mine = draw()
    return {"a": mine, "b": collect(pid, read_end), "a_is_parent": True, **before}


pid, read_end = in_child(child)
report(collect(pid, read_end))
''',
    "fork while other threads draw": r'''
before = warm()
stop = False
drawn = []
started = threading.Barrier(3)


def busy():
    # Not the version 1 generators, which would step the parent's clock
    # sequence out of the test's sight; the forking thread draws them.
    mine = []
    started.wait()
    while not stop:
        mine += [kestrand.uuid7().hex, kestrand.uuid4().hex]
    drawn.append(mine)


threads = [threading.Thread(target=busy) for _ in range(2)]
for thread in threads:
    thread.start()
started.wait()
pid, read_end = in_child(draw)
parent = draw()
stop = True
for thread in threads:
    thread.join()
child = collect(pid, read_end)
# What the other threads made counts on the parent's side.
others = [value for mine in drawn for value in mine]
last_v7 = max([before["last_v7"]] + [v for v in others if v[12] == "7"])
report({"a": parent, "b": child, "a_is_parent": True, "next_seq": before["next_seq"],
        "last_v7": last_v7, "a_others": others})
''',
}

GENERATORS = ["uuid1", "uuid_v1mc", "uuid4", "uuid7", "uuid4_bulk", "uuid4_as_strings_bulk",
              "uuid7_bulk", "uuid7_as_strings_bulk"]


def clock_seq(value: str) -> int:
    return int(value[16:20], 16) & 0x3FFF


def v7_ms(value: str) -> int:
    return int(value[:12], 16)


@pytest.fixture(params=["libfaketime", "shim"])
def frozen_clock(request):
    """(library to preload, environment) that freeze the wall clock."""
    if request.param == "shim":
        return str(request.getfixturevalue("shim_library")), {"KESTRAND_SHIM_CLOCK": f"fixed:{FROZEN_AT}:0"}
    library = libfaketime()
    if library is None:
        pytest.skip("libfaketime is not installed (Debian package libfaketime)")
    if UNDER_ASAN:
        pytest.skip("libfaketime and the AddressSanitizer runtime deadlock at start")
    # No "@": the clock stands at that time instead of starting from it.
    return library, {"FAKETIME": "2025-01-01 00:00:00", "FAKETIME_DONT_FAKE_MONOTONIC": "1"}


@pytest.mark.parametrize("scenario", list(SCENARIOS))
def test_the_two_sides_of_a_fork_share_nothing_under_a_frozen_clock(frozen_clock, scenario):
    result, _ = run_program(DRAW + SCENARIOS[scenario], {}, *frozen_clock)
    a, b = result["a"], result["b"]
    assert a["pid"] != b["pid"]
    a_all = {value for name in GENERATORS for value in a[name]} | set(result.get("a_others", []))
    b_all = {value for name in GENERATORS for value in b[name]}
    # The clock stood still: every uuid1 value of a side carries one tick.
    ticks = {value[:16] for value in a["uuid1"] + b["uuid1"]}
    assert len(ticks) == 1, "the clock was not frozen"

    for name in GENERATORS:
        assert len(set(b[name])) == len(b[name]), name
        if name != "uuid1":
            assert a_all.isdisjoint(b[name]), name

    # uuid_v1mc: no random node on both sides.
    a_nodes = {value[20:] for value in a["uuid_v1mc"]}
    b_nodes = {value[20:] for value in b["uuid_v1mc"]}
    assert a_nodes.isdisjoint(b_nodes)

    # uuid1: one host, one node and one tick, so the 14-bit clock sequence is
    # all that sets the sides apart. A child's sequence starts afresh from the
    # operating system instead of counting on from where its parent stood
    # (the parent counts on). So the runs of the two sides overlap only where
    # their random starts fall within N of each other, a chance of about
    # 2N / 16384 that no design with a 14-bit sequence can remove.
    a_seqs = [clock_seq(v) for v in a["uuid1"]]
    b_seqs = [clock_seq(v) for v in b["uuid1"]]
    n = len(b_seqs)
    for seqs in (a_seqs, b_seqs):
        assert seqs == [(seqs[0] + i) % 16384 for i in range(n)]
    assert b_seqs[0] != result["next_seq"], "the child counts on its parent's clock sequence"
    assert (a_seqs[0] == result["next_seq"]) == result["a_is_parent"]
    distance = min((b_seqs[0] - a_seqs[0]) % 16384, (a_seqs[0] - b_seqs[0]) % 16384)
    assert len(set(a["uuid1"]) & set(b["uuid1"])) == max(0, n - distance)

    # uuid7: the child's first value leaves the millisecond its parent stood
    # in, one past it, and follows everything made before the fork.
    b_v7 = b["uuid7"]
    assert v7_ms(b_v7[0]) == v7_ms(result["last_v7"]) + 1
    assert b_v7[0] > result["last_v7"]
    assert b_v7 == sorted(b_v7)
