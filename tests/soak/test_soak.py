"""Soak: a million mixed calls in one process, and threads that generate
while the main thread forks.

The million calls go round a fixed list of operations, good and bad, that
covers every entry point and error path; each call must end as its entry
says. Across the calls the traced Python memory, the process RSS and the
reference counts of the shared objects must stay flat. The amount of work is
fixed; nothing here depends on how fast the machine is.

Run with: python -m pytest -q tests/soak   (tests/run_all.sh does, once)
"""

import copy
import gc
import os
import pickle
import select
import signal
import sys
import threading
import time
import tracemalloc
import warnings

import pytest

import kestrand

UUID = kestrand.UUID
CALLS = 1_000_000
TEXT = "6ba7b810-9dad-11d1-80b4-00c04fd430c8"
RAW = bytes.fromhex(TEXT.replace("-", ""))
FIELDS = (0x6BA7B810, 0x9DAD, 0x11D1, 0x80, 0xB4, 0x00C04FD430C8)
N = int.from_bytes(RAW, "big")
# Measured growth allowed over the measured calls, after a warm-up round:
# room for the interpreter's own caches, far below one lost object per call
# of any single operation.
TRACED_SLACK = 256 * 1024
RSS_SLACK = 8 * 1024 * 1024


class Sub(UUID):
    pass


class LyingBytes(bytes):
    def __len__(self):
        return 16


class RaisingIndex:
    def __index__(self):
        raise LookupError("index")


def panic_type():
    try:
        kestrand.uuid4_bulk(1 << 59)
    except BaseException as e:  # noqa: BLE001 - PanicException is a BaseException
        return type(e)
    raise AssertionError("no panic")


PANIC = panic_type()
NS = UUID(TEXT)
SUB_NS = Sub(TEXT)
SCRATCH = UUID(int=0)


def views(u):
    return (str(u), repr(u), u.hex, u.urn, u.bytes, u.bytes_le, u.fields, u.int, u.version,
            u.variant, u.time, u.node, u.time_low, u.time_mid, u.time_hi_version,
            u.clock_seq_hi_variant, u.clock_seq_low, int(u), hash(u))


# (operation, exception it must raise or None)
OPERATIONS = [
    (lambda: UUID(TEXT), None),
    (lambda: UUID(hex=TEXT.upper()), None),
    (lambda: UUID("{" + TEXT + "}"), None),
    (lambda: UUID("urn:uuid:" + TEXT), None),
    (lambda: UUID(bytes=RAW), None),
    (lambda: UUID(bytes_le=RAW, version=4), None),
    (lambda: UUID(fields=FIELDS), None),
    (lambda: UUID(int=N), None),
    (lambda: UUID(None, None, None, None, 0, None), None),
    (lambda: Sub(int=N), None),
    (lambda: UUID.__new__(Sub, bytes=RAW), None),
    (lambda: UUID(TEXT[:-1]), ValueError),
    (lambda: UUID("\u00e9" * 16), ValueError),
    (lambda: UUID("\ud800" * 32), UnicodeEncodeError),
    (lambda: UUID(b"x"), TypeError),
    (lambda: UUID(bytes=b"x"), ValueError),
    (lambda: UUID(bytes=bytearray(16)), TypeError),
    (lambda: UUID(bytes_le=b"x"), ValueError),
    (lambda: UUID(bytes_le=LyingBytes(b"x")), PANIC),
    (lambda: UUID(fields=(1, 2, 3, 4)), ValueError),
    (lambda: UUID(fields=(1 << 32, 2, 3, 4, 5, 6)), ValueError),
    (lambda: UUID(fields=(1, 2, 3, 4, 5, 1 << 48)), ValueError),
    (lambda: UUID(fields=(1, 2, 3, 4, 5, -1)), OverflowError),
    (lambda: UUID(fields=(1, 2, 3, 4, 5, "6")), TypeError),
    (lambda: UUID(fields=[1, 2, 3, 4, 5, 6]), TypeError),
    (lambda: UUID(int=-1), OverflowError),
    (lambda: UUID(int=1 << 128), OverflowError),
    (lambda: UUID(int=RaisingIndex()), LookupError),
    (lambda: UUID(int=1.0), TypeError),
    (lambda: UUID(int=1, version=9), ValueError),
    (lambda: UUID(int=1, version=1 << 70), OverflowError),
    (lambda: UUID(), TypeError),
    (lambda: UUID(x=1), TypeError),
    (lambda: UUID(*range(7)), TypeError),
    (lambda: UUID(TEXT, hex=TEXT), TypeError),
    (lambda: UUID(hex=TEXT, int=1), TypeError),
    (lambda: views(NS), None),
    (lambda: views(SUB_NS), None),
    (lambda: (NS < SUB_NS, NS == SUB_NS, NS != TEXT, NS >= NS), None),
    (lambda: NS < 0, TypeError),
    (lambda: NS.clock_seq, AttributeError),
    (lambda: pickle.loads(pickle.dumps(NS, 2)), None),
    (lambda: pickle.loads(pickle.dumps([NS, SUB_NS], 5)), None),
    (lambda: pickle.loads(pickle.dumps(SUB_NS, 4)), None),
    (lambda: pickle.dumps(NS, 1), TypeError),
    (lambda: (copy.copy(SUB_NS), copy.deepcopy([NS, NS])), None),
    (lambda: NS.__deepcopy__(None), TypeError),
    (lambda: (NS.__getstate__(), NS.__getnewargs__()), None),
    (lambda: SCRATCH.__setstate__(RAW), None),
    (lambda: SCRATCH.__setstate__(state=RAW[::-1]), None),
    (lambda: SCRATCH.__setstate__(b"x"), ValueError),
    (lambda: SCRATCH.__setstate__(bytearray(16)), TypeError),
    (lambda: SCRATCH.__setstate__(), TypeError),
    (lambda: kestrand.uuid4(), None),
    (lambda: kestrand.uuid7(), None),
    (lambda: kestrand.uuid1(), None),
    (lambda: kestrand.uuid1(node=1, clock_seq=2), None),
    (lambda: kestrand.uuid1(1 << 64), OverflowError),
    (lambda: kestrand.uuid1(clock_seq=65536), OverflowError),
    (lambda: kestrand.uuid1(node="x"), TypeError),
    (lambda: kestrand.uuid1(1, 2, 3), TypeError),
    (lambda: kestrand.uuid_v1mc(), None),
    (lambda: kestrand.uuid3(NS, b"name"), None),
    (lambda: kestrand.uuid5(SUB_NS, b""), None),
    (lambda: kestrand.uuid5(namespace=NS, name=b"x" * 100), None),
    (lambda: kestrand.uuid3("x", b"y"), TypeError),
    (lambda: kestrand.uuid5(NS, "x"), TypeError),
    (lambda: kestrand.uuid3(NS), TypeError),
    (lambda: kestrand.uuid4(1), TypeError),
    (lambda: kestrand.uuid4_bulk(3), None),
    (lambda: kestrand.uuid7_bulk(n=2), None),
    (lambda: kestrand.uuid4_as_strings_bulk(2), None),
    (lambda: kestrand.uuid7_as_strings_bulk(3), None),
    (lambda: kestrand.uuid4_bulk(0), None),
    (lambda: kestrand.uuid7_bulk("3"), TypeError),
    (lambda: kestrand.uuid4_bulk(-1), OverflowError),
    (lambda: kestrand.uuid4_as_strings_bulk(RaisingIndex()), LookupError),
    (lambda: kestrand.uuid4_bulk(1 << 59), PANIC),
    (lambda: kestrand.uuid7_as_strings_bulk(384307168202282326), PANIC),
]
# Objects every call shares: their reference counts must come back exactly.
SHARED = [UUID, Sub, PANIC, kestrand, NS, SUB_NS, SCRATCH, NS.__getnewargs__(), TEXT, RAW,
          kestrand.uuid4, kestrand.uuid7_bulk]


def run_calls(count):
    """count calls, round the operation list; each ends as its entry says."""
    for i in range(count):
        operation, expected = OPERATIONS[i % len(OPERATIONS)]
        if expected is None:
            operation()
            continue
        try:
            operation()
        except expected:
            continue
        raise AssertionError(f"operation {i % len(OPERATIONS)} did not raise {expected.__name__}")


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def measure():
    gc.collect()
    return tracemalloc.get_traced_memory()[0], rss_bytes(), [sys.getrefcount(o) for o in SHARED]


def test_a_million_mixed_calls_leave_memory_and_reference_counts_flat(capfd):
    per_round = len(OPERATIONS)
    rounds = CALLS // per_round
    tracemalloc.start()
    try:
        run_calls(per_round * (rounds // 10))  # warm-up: caches, the free list
        traced_before, rss_before, refs_before = measure()
        run_calls(per_round * rounds)
        traced_after, rss_after, refs_after = measure()
    finally:
        tracemalloc.stop()
    capfd.readouterr()  # the panic diagnostics
    print(f"\nsoak: {per_round * rounds} calls; traced memory {traced_after - traced_before:+d} B, "
          f"RSS {rss_after - rss_before:+d} B")
    assert refs_after == refs_before
    assert traced_after - traced_before < TRACED_SLACK
    assert rss_after - rss_before < RSS_SLACK


# ---------------------------------------------------------------------------
# Threads and forks

THREADS = 4
FORKS = 6


def generate(sink, stop, minimum):
    """Single and bulk calls of every kind until stop is set (and at least
    `minimum` rounds); sink gets (values in order, version 7 values in order)."""
    values, v7 = [], []
    rounds = 0
    while rounds < minimum or not stop.is_set():
        batch = [kestrand.uuid4(), kestrand.uuid_v1mc(), *kestrand.uuid4_bulk(3)]
        values += [u.bytes for u in batch]
        values += [bytes.fromhex(h) for h in kestrand.uuid4_as_strings_bulk(2)]
        sevens = [kestrand.uuid7().bytes, *(u.bytes for u in kestrand.uuid7_bulk(4)),
                  *(bytes.fromhex(h) for h in kestrand.uuid7_as_strings_bulk(3))]
        values += sevens
        v7 += sevens
        rounds += 1
    sink.append((values, v7))


def child(write_fd):
    """In a forked child: generate from the main thread and a new one, send
    the values, leave without running the parent's clean-up."""
    try:
        results = []
        stop = threading.Event()
        stop.set()
        worker = threading.Thread(target=generate, args=(results, stop, 20))
        worker.start()
        generate(results, stop, 20)
        worker.join()
        for values, v7 in results:
            assert v7 == sorted(v7) and len(set(v7)) == len(v7)
        data = b"".join(b"".join(values) for values, _ in results)
        with os.fdopen(write_fd, "wb") as pipe:
            pipe.write(data)
        os._exit(0)
    except BaseException:  # noqa: BLE001 - report and leave, whatever happened
        import traceback
        traceback.print_exc()
        os._exit(1)


def fork_and_collect():
    read_fd, write_fd = os.pipe()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # fork() of a threaded process
        pid = os.fork()
    if pid == 0:
        os.close(read_fd)
        child(write_fd)
    os.close(write_fd)
    # Every wait is bounded: a child that hangs (a lock copied held) is killed
    # and fails the test instead of stalling it.
    deadline = time.monotonic() + 60
    data = b""
    while (left := deadline - time.monotonic()) > 0 and select.select([read_fd], [], [], left)[0]:
        chunk = os.read(read_fd, 1 << 16)
        if not chunk:
            break
        data += chunk
    os.close(read_fd)
    while not (reaped := os.waitpid(pid, os.WNOHANG))[0] and time.monotonic() < deadline:
        time.sleep(0.01)
    if not reaped[0]:
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
        pytest.fail("a forked child did not finish within 60 s")
    status = reaped[1]
    assert os.waitstatus_to_exitcode(status) == 0
    assert len(data) % 16 == 0 and data
    return [data[i:i + 16] for i in range(0, len(data), 16)]


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork()")
def test_threads_generate_while_the_main_thread_forks():
    results = []
    stop = threading.Event()
    workers = [threading.Thread(target=generate, args=(results, stop, 10)) for _ in range(THREADS)]
    for worker in workers:
        worker.start()
    children = []
    try:
        for _ in range(FORKS):
            children += fork_and_collect()
    finally:
        stop.set()
        for worker in workers:
            worker.join()
    assert len(results) == THREADS
    made = list(children)
    for values, v7 in results:
        # Within one thread every version 7 value is larger than the one before.
        assert all(a < b for a, b in zip(v7, v7[1:]))
        made += values
    print(f"\nthreads and forks: {len(made)} values, {len(children)} of them in {FORKS} children")
    assert len(set(made)) == len(made), "a value was made twice"
