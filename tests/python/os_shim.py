"""Running a short program in a fresh interpreter under a failing operating system.

The program's C library calls getrandom() and clock_gettime() are replaced by
tests/shim/failing_os.c (preloaded with LD_PRELOAD), so the module under test
is the unmodified build. The program switches the shim's behaviour through
environment variables around each call (attempt() in PRELUDE) and reports what
happened as JSON. The fixtures that build the shim are in conftest.py.
"""

from __future__ import annotations

import glob
import json
import os
import shutil
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

SHIM_SOURCE = Path(__file__).resolve().parent.parent / "shim" / "failing_os.c"

ENTROPY = "could not retrieve random bytes for uuid: "
CAUSALITY = (
    "Getting elapsed time since UNIX_EPOCH. If this fails, we've somehow violated causality: "
)
PANIC = "pyo3_runtime.PanicException"

# The sanitizer build runs with the AddressSanitizer runtime preloaded; the
# child processes inherit it.
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")

# The shim's "toolong" mode: getrandom() reports one byte more than asked,
# which every source treats as "unexpected situation". Under the sanitizer its
# own getrandom interceptor takes that length as written and reports it first.
TOO_LONG_CASE = pytest.param(
    "toolong",
    "unexpected situation",
    marks=pytest.mark.skipif(
        UNDER_ASAN,
        reason="AddressSanitizer's getrandom interceptor trusts the length returned",
    ),
)

# A clock reading far ahead of the real one (2100-01-01T00:00:00Z): a call that
# the shim lets through to the real clock then reads a time behind the stored
# millisecond, just as a fixed clock would.
FUTURE_S = 4102444800
FUTURE_MS = FUTURE_S * 1000
AT_FUTURE = f"fixed:{FUTURE_S}:0"
AT_FUTURE_PLUS_1MS = f"fixed:{FUTURE_S}:1000000"

SEQ = bytes(range(256))  # what the shim's fill=seq delivers, call after call

# Runs at the top of every program: the helpers the test bodies use.
PRELUDE = r'''
import ctypes, json, os, sys
import kestrand

PARAMS = json.loads(sys.argv[1])
_shim = ctypes.CDLL(os.environ["KESTRAND_SHIM_LIBRARY"]) if os.environ.get("KESTRAND_SHIM_LIBRARY") else None
if _shim is not None:
    _shim.kestrand_shim_getrandom_log.restype = ctypes.c_longlong
    _shim.kestrand_shim_state_mmaps.restype = ctypes.c_longlong
_tag = 0


def _set(name, setting):
    # A fresh tag re-arms the shim's call counts even for an unchanged setting.
    global _tag
    if setting is None:
        os.environ.pop(name, None)
    else:
        _tag += 1
        os.environ[name] = f"{setting}#{_tag}"


def _encode(value):
    if isinstance(value, kestrand.UUID):
        return value.hex
    if isinstance(value, list):
        return [_encode(item) for item in value]
    return value


def _requests():
    size = 256
    lengths, results = (ctypes.c_longlong * size)(), (ctypes.c_longlong * size)()
    count = _shim.kestrand_shim_getrandom_log(lengths, results, size)
    log = [[lengths[i], results[i]] for i in range(min(count, size))]
    return log if count <= size else log + [["calls", count]]


def attempt(name, *args, getrandom=None, clock=None):
    """kestrand.<name>(*args) with the OS behaving as given."""
    function = getattr(kestrand, name)
    _shim.kestrand_shim_reset_log()
    _set("KESTRAND_SHIM_GETRANDOM", getrandom)
    _set("KESTRAND_SHIM_CLOCK", clock)
    try:
        outcome = {"value": _encode(function(*args))}
    except BaseException as error:
        outcome = {"raised": f"{type(error).__module__}.{type(error).__qualname__}",
                   "args": list(error.args)}
    finally:
        _set("KESTRAND_SHIM_GETRANDOM", None)
        _set("KESTRAND_SHIM_CLOCK", None)
    outcome["requests"] = _requests()
    return outcome


def report(result):
    print(json.dumps(result))


def wait_child(pid, seconds=10):
    """(finished, status) of child `pid`; killed if not finished within `seconds` (a deadlock)."""
    import time
    deadline = time.monotonic() + seconds
    while not (done := os.waitpid(pid, os.WNOHANG))[0] and time.monotonic() < deadline:
        time.sleep(0.01)
    if not done[0]:
        os.kill(pid, 9)
        os.waitpid(pid, 0)
    return bool(done[0]), done[1]


def collect_child(pid, read_fd, seconds=10):
    """(bytes, finished, status): what child `pid` wrote to the pipe whose
    write end this process has closed, read until the child closes it or the
    deadline passes; then the child as wait_child leaves it."""
    import select, time
    deadline = time.monotonic() + seconds
    data = b""
    while (left := deadline - time.monotonic()) > 0 and select.select([read_fd], [], [], left)[0]:
        chunk = os.read(read_fd, 65536)
        if not chunk:
            break
        data += chunk
    os.close(read_fd)
    return (data, *wait_child(pid, max(0.0, deadline - time.monotonic())))
'''


def compiler() -> str | None:
    for name in (os.environ.get("CC"), "cc", "gcc", "clang"):
        if name and shutil.which(name):
            return shutil.which(name)
    return None


def build_shim(directory: Path) -> Path | None:
    """The shim compiled into `directory`, or None without a C compiler."""
    cc = compiler()
    if cc is None:
        return None
    library = directory / "failing_os.so"
    build = subprocess.run(
        [cc, "-shared", "-fPIC", "-O2", "-o", str(library), str(SHIM_SOURCE), "-ldl"],
        capture_output=True,
        text=True,
    )
    assert build.returncode == 0, build.stderr
    return library


def run_program(body: str, params, preload: str, extra_env: dict[str, str], prefix: tuple[str, ...] = ()):
    """Runs `body` after PRELUDE in a fresh interpreter (under the command `prefix`, if
    any), and returns what it reported and its stderr."""
    env = {k: v for k, v in os.environ.items() if not k.startswith(("KESTRAND_SHIM_", "FAKETIME"))}
    # The child imports the same build of the module as this process.
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    # Keep a sanitizer runtime that is already preloaded in front.
    env["LD_PRELOAD"] = " ".join(filter(None, [os.environ.get("LD_PRELOAD", ""), preload]))
    env.update(extra_env)
    program = PRELUDE + textwrap.dedent(body)
    proc = subprocess.run(
        [*prefix, sys.executable, "-c", program, json.dumps(params)],
        capture_output=True,
        text=True,
        env=env,
        timeout=300,
    )
    assert proc.returncode == 0, f"child failed ({proc.returncode}):\n{proc.stderr}"
    return json.loads(proc.stdout.splitlines()[-1]), proc.stderr


def panic_of(outcome) -> str:
    """The message of the PanicException an attempt raised."""
    assert outcome.get("raised") == PANIC, outcome
    assert len(outcome["args"]) == 1
    return outcome["args"][0]



def libfaketime() -> str | None:
    candidates = sorted(glob.glob("/usr/lib/*/faketime/libfaketime.so.1"))
    candidates += sorted(glob.glob("/usr/lib/faketime/libfaketime.so.1"))
    return candidates[0] if candidates else None
