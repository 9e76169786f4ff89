"""Which way the random bytes take: the kernel's vDSO getrandom, or the
getrandom() system call, and the switch between them.

The failing-OS shim hides the vDSO (as a kernel without it would) or fails the
mappings for the vDSO's per-thread states; which path served is proven by
the calls that reach the C library's getrandom (the shim sees each) beside the
real getrandom system calls (strace), never by timing. The C library's own
getrandom may itself serve from the vDSO (glibc 2.41 and later), so the system
calls of the fallback are compared with what the C library makes for any
caller.
"""

from __future__ import annotations

import ctypes
import os
import platform
import shutil
import subprocess
import sys

import pytest

from os_shim import UNDER_ASAN, run_program

N = 100_000


# The name and version under which each architecture's vDSO exports getrandom.
VDSO_GETRANDOM = {"x86_64": (b"__vdso_getrandom", b"LINUX_2.6"),
                  "aarch64": (b"__kernel_getrandom", b"LINUX_2.6.39")}


def vdso_exports_getrandom() -> bool:
    """Whether this process's vDSO exports getrandom, asked of the C library's
    dynamic loader, which maps the vDSO as linux-vdso.so.1. The kernel's
    version cannot tell: qemu-user reports the host's and has no such vDSO."""
    symbol = VDSO_GETRANDOM.get(platform.machine())
    if symbol is None:
        return False
    libc = ctypes.CDLL(None)
    libc.dlopen.restype = libc.dlvsym.restype = ctypes.c_void_p
    libc.dlopen.argtypes = [ctypes.c_char_p, ctypes.c_int]
    libc.dlvsym.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p]
    handle = libc.dlopen(b"linux-vdso.so.1", os.RTLD_NOW | os.RTLD_NOLOAD)
    return bool(handle) and bool(libc.dlvsym(handle, *symbol))


VDSO = vdso_exports_getrandom()
needs_vdso = pytest.mark.skipif(not VDSO, reason="this process's vDSO has no getrandom")


def strace_counts(tmp_path, syscall, argv) -> int:
    """How many `syscall` calls strace counts for argv and its threads and children."""
    out = tmp_path / "strace.txt"
    subprocess.run(["strace", "-f", "-c", "-e", f"trace={syscall}", "-o", str(out), *argv],
                   check=True, capture_output=True)
    for line in out.read_text().splitlines():
        fields = line.split()
        if fields and fields[-1] == syscall:
            return int(fields[3])
    return 0


@pytest.fixture(scope="module")
def strace(tmp_path_factory):
    """strace, where it sees this machine's system calls. It needs ptrace,
    which an emulator such as qemu-user does not offer its programs."""
    if shutil.which("strace") is None:
        pytest.skip("strace is not installed")
    program = "import os\nfor _ in range(10): os.getpid()"
    try:
        seen = strace_counts(tmp_path_factory.mktemp("strace-probe"), "getpid", [sys.executable, "-c", program])
    except subprocess.CalledProcessError as error:
        first_line = (error.stderr.decode(errors="replace").strip().splitlines() or ["no output"])[0]
        pytest.skip(f"strace cannot trace here: {first_line}")
    if seen < 10:
        pytest.skip(f"strace cannot trace here: it counted {seen} of 10 getpid calls")


def run(shim_library, body, vdso="pass", mmap=None, prefix=(), **params):
    env = {"KESTRAND_SHIM_LIBRARY": str(shim_library), "KESTRAND_SHIM_VDSO": vdso}
    if mmap is not None:
        env["KESTRAND_SHIM_MMAP"] = mmap
    return run_program(body, params, str(shim_library), env, prefix)


def traced_run(shim_library, tmp_path, body, **options):
    """(what the program reported, getrandom system calls by every thread as strace counts them)."""
    out = tmp_path / "strace.txt"
    result, _ = run(shim_library, body, prefix=("strace", "-f", "-c", "-e", "trace=getrandom", "-o", str(out)),
                    **options)
    for line in out.read_text().splitlines():
        fields = line.split()
        if fields and fields[-1] == "getrandom":
            return result, int(fields[3])
    return result, 0


# Counts what a loop of `n` calls passes to the C library's getrandom (the
# shim sees every such call) beside the system calls strace sees.
LOOP = """
_shim.kestrand_shim_reset_log()
for _ in range(PARAMS["n"]):
    CALL
report(_shim.kestrand_shim_getrandom_log(None, None, 0))
"""


def loop(call: str) -> str:
    return LOOP.replace("CALL", call)


@pytest.fixture(scope="module")
def c_library_getrandom_makes_system_calls(strace, shim_library, tmp_path_factory) -> bool:
    """Whether each call of the C library's getrandom() is a system call here.
    From glibc 2.41 on it serves from the vDSO itself; older ones always enter
    the kernel. Asked of the C library, not read from its version."""
    tmp_path = tmp_path_factory.mktemp("libc-getrandom")
    n = 1000
    _, baseline = traced_run(shim_library, tmp_path, "report(0)")
    body = "buffer = ctypes.create_string_buffer(16)\n" + loop("_shim.getrandom(buffer, 16, 0)")
    libc_calls, calls = traced_run(shim_library, tmp_path, body, n=n)
    assert libc_calls == n
    return calls - baseline >= n


@pytest.mark.parametrize(
    "options, through_vdso",
    [
        pytest.param({}, True, marks=needs_vdso, id="vdso"),
        pytest.param({"vdso": "hide"}, False, id="vdso hidden"),
        pytest.param({"mmap": "fail"}, False, id="state mapping fails"),
    ],
)
def test_getrandom_requests_over_100000_uuid4(strace, shim_library, tmp_path, options, through_vdso,
                                              c_library_getrandom_makes_system_calls):
    # The interpreter makes a few system calls of its own while it starts.
    _, baseline = traced_run(shim_library, tmp_path, "report(0)", **options)
    libc_calls, calls = traced_run(shim_library, tmp_path, loop("kestrand.uuid4()"), n=N, **options)
    if through_vdso:
        # Neither the C library nor the kernel's system call was asked.
        assert libc_calls == 0
        assert calls - baseline < 100
    else:
        # One request per UUID through the C library's getrandom, which makes
        # as many system calls as it makes for any caller.
        assert libc_calls == N
        if c_library_getrandom_makes_system_calls:
            assert calls - baseline >= N
        else:
            assert calls - baseline < 100


@pytest.mark.parametrize(
    "options, expected",
    [
        # A thread whose state could not be mapped keeps the system call; the
        # next thread maps one and takes the vDSO.
        pytest.param({"mmap": "fail,times=1"}, {"main": 50, "worker": 0, "main again": 50, "mappings": 1},
                     marks=needs_vdso, id="first mapping fails"),
        pytest.param({}, {"main": 0, "worker": 0, "main again": 0, "mappings": 1},
                     marks=needs_vdso, id="vdso"),
        pytest.param({"mmap": "fail"}, {"main": 50, "worker": 50, "main again": 50, "mappings": 0},
                     marks=needs_vdso, id="every mapping fails"),
        pytest.param({"vdso": "hide"}, {"main": 50, "worker": 50, "main again": 50, "mappings": 0},
                     id="vdso hidden"),
    ],
)
def test_fallback_to_the_system_call_is_silent_and_per_thread(shim_library, options, expected):
    result, _ = run(
        shim_library,
        """
        import threading

        def draw():
            outcome = attempt("uuid4_bulk", 50)
            assert "value" in outcome, outcome
            assert all(v[12] == "4" and v[16] in "89ab" for v in outcome["value"])
            return sum(1 for length, _ in outcome["requests"] if length == 16), outcome["value"]

        counts, values = {}, []
        counts["main"], first = draw()
        box = {}
        worker = threading.Thread(target=lambda: box.update(result=draw()))
        worker.start()
        worker.join()
        counts["worker"], second = box["result"]
        counts["main again"], third = draw()
        counts["mappings"] = _shim.kestrand_shim_state_mmaps()
        report({"counts": counts, "distinct": len(set(first + second + third))})
        """,
        **options,
    )
    assert result == {"counts": expected, "distinct": 150}


FORK_BODY = """
import threading

stop = False

def churn():
    while not stop:
        kestrand.uuid4_bulk(1000)
        kestrand.uuid7_bulk(1000)

def draws():
    values = [u.hex for u in kestrand.uuid4_bulk(100)] + [kestrand.uuid4().hex]
    worker = threading.Thread(target=lambda: values.extend(kestrand.uuid4_as_strings_bulk(100)))
    worker.start()
    worker.join()
    return values

# Daemons: a failure in this thread must end the program, not leave it
# waiting for them.
busy = [threading.Thread(target=churn, daemon=True) for _ in range(PARAMS["threads"])]
for thread in busy:
    thread.start()
kestrand.uuid4()  # this thread's state is in use before the fork
read_end, write_end = os.pipe()
pid = os.fork()
if pid == 0:
    os.close(read_end)
    os.write(write_end, json.dumps(draws()).encode())
    os._exit(0)
os.close(write_end)
parent = draws()
data, finished, status = collect_child(pid, read_end)
stop = True
for thread in busy:
    thread.join()
report({"parent": parent, "child": json.loads(data or "[]"), "finished": finished, "status": status})
"""


# Under AddressSanitizer a fork can catch a busy thread inside the sanitizer's
# allocator (a bulk call reserves its buffer without the interpreter lock),
# whose locks, unlike the C library's malloc locks, are not held across fork:
# the child would hang. The C++ test of the states forks beside busy threads
# under the sanitizers once they no longer allocate.
BESIDE_BULK_CALLS = pytest.param(
    2,
    id="beside bulk calls",
    marks=pytest.mark.skipif(UNDER_ASAN, reason="AddressSanitizer's allocator is not fork-safe"),
)


@pytest.mark.parametrize("threads", [pytest.param(0, id="alone"), BESIDE_BULK_CALLS])
@pytest.mark.parametrize("vdso", [pytest.param("pass", marks=needs_vdso), "hide"])
def test_parent_and_child_draw_different_values_after_fork(shim_library, vdso, threads):
    result, _ = run(shim_library, FORK_BODY, vdso=vdso, threads=threads)
    assert (result["finished"], result["status"]) == (True, 0)
    parent, child = result["parent"], result["child"]
    assert len(parent) == len(child) == 201
    assert len(set(parent) | set(child)) == 402


@needs_vdso
def test_fork_while_another_thread_maps_a_state(shim_library):
    # A thread's first request takes the states' lock and, here, maps a page,
    # saying so through a pipe, and then takes 300 ms. A fork in that moment
    # must not hand the child a lock that no thread of the child will ever
    # release: the child's first request needs it too.
    result, _ = run(
        shim_library,
        """
        import threading

        inside_r, inside_w = os.pipe()
        _set("KESTRAND_SHIM_MMAP", f"pass,times=1,notify_fd={inside_w},delay_ms=300")
        worker = threading.Thread(target=kestrand.uuid4_bulk, args=(3,))
        worker.start()
        os.read(inside_r, 1)  # the worker holds the lock
        pid = os.fork()
        if pid == 0:
            kestrand.uuid4()
            os._exit(0)
        finished, status = wait_child(pid)
        worker.join()
        report({"child_finished": finished, "status": status})
        """,
    )
    assert result == {"child_finished": True, "status": 0}
