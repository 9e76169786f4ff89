#!/usr/bin/env python3
"""Side-by-side benchmark of kestrand, the standard library's uuid module and,
when they are importable, the uuid_utils and uuid6 packages.

Everything runs in one process. For each case every contender is timed once
per round, the rounds are interleaved (A B C, A B C, ...) so that drift in
clock speed or machine load hits all contenders alike, and the best round is
reported. Times are per operation (per item for the bulk cases), with the cost
of the empty timing loop subtracted. Ratios are "other / kestrand", so a ratio
above 1 means kestrand is faster.

Anything the installed kestrand does not provide (yet) is shown as "n/a".

The end-to-end database row builds PostgreSQL's binary COPY data with the
standard library alone; set KESTRAND_BENCH_PG to a conninfo (psycopg
installed) to time the COPY into that server as well.

    python3 bench/bench.py            # full run, about a minute
    python3 bench/bench.py --quick    # a few seconds, rougher numbers
    python3 bench/bench.py --plot FILE.png   # and a picture (needs matplotlib)
"""

from __future__ import annotations

import argparse
import ctypes
import gc
import hashlib
import importlib.metadata
import importlib.util
import os
import pickle
import platform
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import timeit
import tracemalloc
import uuid
from collections.abc import Callable
from pathlib import Path
from typing import Any

try:
    import kestrand
except ImportError as exc:  # still useful: shows the other implementations
    kestrand = None  # type: ignore[assignment]
    KESTRAND_IMPORT_ERROR: str | None = str(exc)
else:
    KESTRAND_IMPORT_ERROR = None

try:
    import uuid_utils
except ImportError:
    uuid_utils = None  # type: ignore[assignment]

try:
    import uuid6
except ImportError:
    uuid6 = None  # type: ignore[assignment]

CONTENDERS = ("kestrand", "stdlib", "uuid_utils", "uuid6")
SAMPLE_HEX = "6ba7b810-9dad-11d1-80b4-00c04fd430c8"

# A contender's entry in a case: a statement to time and the names it uses,
# or None when that implementation cannot do the operation.
Entry = tuple[str, dict[str, Any]] | None


class Settings:
    def __init__(self, quick: bool) -> None:
        self.quick = quick
        self.rounds = 3 if quick else 7
        self.target_seconds = 0.01 if quick else 0.05  # per contender and round
        self.big_n = 100_000  # sorted(), memory, bulk
        self.pickle_n = 10_000


# --------------------------------------------------------------------------
# helpers


def kfunc(name: str) -> Callable[..., Any] | None:
    """A kestrand attribute, or None if this build does not have it."""
    return getattr(kestrand, name, None) if kestrand is not None else None


def works(entry: Entry) -> Entry:
    """Run an entry once; drop it if it fails (a feature that is not there yet)."""
    if entry is None:
        return None
    stmt, names = entry
    try:
        exec(stmt, dict(names))
    except Exception:
        return None
    return entry


def fmt_time(ns: float | None) -> str:
    if ns is None:
        return "n/a"
    if ns < 1_000:
        return f"{ns:.1f} ns"
    if ns < 1_000_000:
        return f"{ns / 1_000:.2f} us"
    return f"{ns / 1_000_000:.2f} ms"


def fmt_ratio(other: float | None, mine: float | None) -> str:
    if other is None or mine is None or mine <= 0:
        return "n/a"
    return f"{other / mine:.2f}x"


def loop_overhead_ns(number: int) -> float:
    timer = timeit.Timer("pass")
    return min(timer.timeit(number) for _ in range(3)) / number * 1e9


def calibrate(timer: timeit.Timer, target: float) -> int:
    """Loop count that makes one measurement take about `target` seconds."""
    number = 1
    while True:
        elapsed = timer.timeit(number)
        if elapsed >= target / 5 or number >= 10**8:
            break
        number *= 10
    return max(1, int(number * target / max(elapsed, 1e-9)))


def measure(entries: dict[str, Entry], settings: Settings, per: int = 1) -> dict[str, float | None]:
    """Best time per operation (ns, divided by `per`) for each contender."""
    live = {name: works(entry) for name, entry in entries.items()}
    timers: dict[str, tuple[timeit.Timer, int, float]] = {}
    for name, entry in live.items():
        if entry is None:
            continue
        stmt, names = entry
        timer = timeit.Timer(stmt, globals=dict(names))
        number = calibrate(timer, settings.target_seconds)
        timers[name] = (timer, number, loop_overhead_ns(number))
    best: dict[str, float] = {}
    for _ in range(settings.rounds):
        for name, (timer, number, overhead) in timers.items():
            gc.collect()
            ns = timer.timeit(number) / number * 1e9 - overhead
            best[name] = min(best.get(name, float("inf")), max(ns, 0.0))
    return {name: (best[name] / per if name in best else None) for name in entries}


class Table:
    """Rows of per-contender times with ratios against kestrand."""

    def __init__(self, title: str) -> None:
        self.title = title
        self.rows: list[tuple[str, dict[str, float | None]]] = []

    def add(self, label: str, results: dict[str, float | None]) -> None:
        self.rows.append((label, results))
        print(f"  measured: {label}", file=sys.stderr, flush=True)

    def render(self) -> str:
        others = [c for c in CONTENDERS[1:] if any(c in r for _, r in self.rows)]
        header = ["case", "kestrand"] + others + [f"{c}/k" for c in others]
        body = []
        for label, results in self.rows:
            mine = results.get("kestrand")
            line = [label, fmt_time(mine)]
            line += [fmt_time(results.get(c)) if c in results else "-" for c in others]
            line += [fmt_ratio(results.get(c), mine) if c in results else "-" for c in others]
            body.append(line)
        widths = [max(len(row[i]) for row in [header] + body) for i in range(len(header))]

        def join(row: list[str]) -> str:
            cells = [row[0].ljust(widths[0])] + [c.rjust(w) for c, w in zip(row[1:], widths[1:])]
            return "  ".join(cells)

        rule = "-" * len(join(header))
        return "\n".join([f"\n{self.title}", rule, join(header), rule] + [join(r) for r in body] + [rule])


# --------------------------------------------------------------------------
# the UUID class


def class_cases(settings: Settings, table: Table) -> None:
    K = kfunc("UUID")
    S = uuid.UUID
    U = uuid_utils.UUID if uuid_utils is not None else None

    def one(cls: Any) -> Any:
        if cls is None:
            return None
        try:
            return cls(SAMPLE_HEX)
        except Exception:
            return None

    # A pair of distinct but equal objects per implementation, for `==`.
    objs = {"kestrand": (one(K), one(K)), "stdlib": (one(S), one(S)), "uuid_utils": (one(U), one(U))}

    def entries(stmt: str) -> dict[str, Entry]:
        out: dict[str, Entry] = {}
        for name, (u, v) in objs.items():
            out[name] = (stmt, {"u": u, "v": v}) if u is not None else None
        return out

    table.add("str(u)", measure(entries("str(u)"), settings))
    table.add("repr(u)", measure(entries("repr(u)"), settings))
    table.add("hash(u)", measure(entries("hash(u)"), settings))
    table.add("u.hex", measure(entries("u.hex"), settings))
    table.add("u.bytes", measure(entries("u.bytes"), settings))
    table.add("u.int", measure(entries("u.int"), settings))
    table.add("u == v (equal values)", measure(entries("u == v"), settings))
    ctor = {
        name: (("C(h)", {"C": cls, "h": SAMPLE_HEX}) if cls is not None else None)
        for name, cls in (("kestrand", K), ("stdlib", S), ("uuid_utils", U))
    }
    table.add("UUID(hex, 36 chars)", measure(ctor, settings))

    n = settings.big_n
    samples = {name: sample_objects(name, n) for name in ("kestrand", "stdlib", "uuid_utils")}
    sort_entries = {name: (("sorted(xs)", {"xs": xs}) if xs else None) for name, xs in samples.items()}
    table.add(f"sorted() of {n:,}", measure(sort_entries, settings))
    # Hashing as dictionaries and sets use it: the hash never becomes an int.
    set_entries = {name: (("set(xs)", {"xs": xs}) if xs else None) for name, xs in samples.items()}
    table.add(f"set() of {n:,}", measure(set_entries, settings))
    pn = settings.pickle_n
    pickle_entries = {
        name: (("loads(dumps(xs))", {"xs": xs[:pn], "loads": pickle.loads, "dumps": pickle.dumps}) if xs else None)
        for name, xs in samples.items()
    }
    table.add(f"pickle round trip of {pn:,}", measure(pickle_entries, settings))


def sample_objects(name: str, n: int) -> list[Any] | None:
    """n random UUIDs of one implementation, built from the same random bytes."""
    rng = random.Random(4)
    blobs = [rng.randbytes(16) for _ in range(n)]
    try:
        if name == "kestrand":
            K = kfunc("UUID")
            if K is not None:
                try:
                    return [K(bytes=b) for b in blobs]
                except Exception:
                    pass
            bulk = kfunc("uuid4_bulk")
            return bulk(n) if bulk is not None else None
        if name == "stdlib":
            return [uuid.UUID(bytes=b) for b in blobs]
        if name == "uuid_utils" and uuid_utils is not None:
            return [uuid_utils.UUID(bytes=b) for b in blobs]
    except Exception:
        return None
    return None


def memory_per_object(n: int) -> dict[str, float | None]:
    """Bytes per live object, traced while n objects of each kind are alive."""
    makers: dict[str, Callable[[list[bytes]], list[Any]] | None] = {"kestrand": None, "stdlib": None}
    K = kfunc("UUID")
    if K is not None:
        makers["kestrand"] = lambda blobs: [K(bytes=b) for b in blobs]
    elif (bulk := kfunc("uuid4_bulk")) is not None:
        makers["kestrand"] = lambda blobs: bulk(len(blobs))
    makers["stdlib"] = lambda blobs: [uuid.UUID(bytes=b) for b in blobs]
    if uuid_utils is not None:
        makers["uuid_utils"] = lambda blobs: [uuid_utils.UUID(bytes=b) for b in blobs]
    blobs = [os.urandom(16) for _ in range(n)]
    out: dict[str, float | None] = {}
    for name, make in makers.items():
        if make is None:
            out[name] = None
            continue
        try:
            make(blobs[:10])
        except Exception:
            out[name] = None
            continue
        gc.collect()
        tracemalloc.start()
        before = tracemalloc.get_traced_memory()[0]
        objs = make(blobs)
        after = tracemalloc.get_traced_memory()[0]
        tracemalloc.stop()
        # The list itself is not part of the objects' cost.
        out[name] = (after - before - sys.getsizeof(objs)) / n
        del objs
    return out


# --------------------------------------------------------------------------
# generators


def generator_cases(settings: Settings, table: Table) -> dict[str, float | None]:
    """Single-call generators; returns kestrand's ns/op by function name."""
    mine: dict[str, float | None] = {}
    k4, k7 = kfunc("uuid4"), kfunc("uuid7")
    call = "f()"
    v4 = {
        "kestrand": (call, {"f": k4}) if k4 else None,
        "stdlib": (call, {"f": uuid.uuid4}),
        "uuid_utils": (call, {"f": uuid_utils.uuid4}) if uuid_utils else None,
    }
    r = measure(v4, settings)
    table.add("uuid4()", r)
    mine["uuid4"] = r["kestrand"]

    std7 = getattr(uuid, "uuid7", None)  # only on newer Pythons
    v7: dict[str, Entry] = {
        "kestrand": (call, {"f": k7}) if k7 else None,
        "uuid_utils": (call, {"f": uuid_utils.uuid7}) if uuid_utils else None,
        "uuid6": (call, {"f": uuid6.uuid7}) if uuid6 else None,
    }
    if std7 is not None:
        v7["stdlib"] = (call, {"f": std7})
    r = measure(v7, settings)
    table.add("uuid7()", r)
    mine["uuid7"] = r["kestrand"]

    k1, k1mc = kfunc("uuid1"), kfunc("uuid_v1mc")
    v1: dict[str, Entry] = {
        "kestrand": (call, {"f": k1}) if k1 else None,
        "stdlib": (call, {"f": uuid.uuid1}),
        "uuid_utils": (call, {"f": uuid_utils.uuid1}) if uuid_utils else None,
    }
    r = measure(v1, settings)
    table.add("uuid1()", r)
    mine["uuid1"] = r["kestrand"]
    # A random multicast node instead of the host's; the standard library's
    # nearest equivalent is plain uuid1().
    v1mc: dict[str, Entry] = {
        "kestrand": (call, {"f": k1mc}) if k1mc else None,
        "stdlib": (call, {"f": uuid.uuid1}),
    }
    r = measure(v1mc, settings)
    table.add("uuid_v1mc() (stdlib: uuid1())", r)
    mine["uuid_v1mc"] = r["kestrand"]

    name_call = "f(ns, name)"
    kns = kestrand.UUID(SAMPLE_HEX) if kestrand is not None else None
    for version in (3, 5):
        fname = f"uuid{version}"
        kf = kfunc(fname)
        entries: dict[str, Entry] = {
            "kestrand": (name_call, {"f": kf, "ns": kns, "name": b"python.org"}) if kf else None,
            "stdlib": (name_call, {"f": getattr(uuid, fname), "ns": uuid.NAMESPACE_DNS, "name": "python.org"}),
            "uuid_utils": (
                name_call,
                {"f": getattr(uuid_utils, fname), "ns": uuid_utils.NAMESPACE_DNS, "name": "python.org"},
            )
            if uuid_utils
            else None,
        }
        r = measure(entries, settings)
        table.add(f'{fname}(ns, "python.org")', r)
        mine[fname] = r["kestrand"]
    return mine


def digest_report(settings: Settings) -> str:
    """Throughput of uuid3/uuid5 on a 1 MiB name against hashlib on the same
    bytes: the cost of the digests' block compression, per byte."""
    size = 1 << 20
    name = random.Random(1).randbytes(size)
    ns_bytes = uuid.UUID(SAMPLE_HEX).bytes
    lines = [f"\nDigest throughput on a {size >> 20} MiB name (MB/s; ratio = kestrand / hashlib):"]
    for fname, algorithm in (("uuid3", "md5"), ("uuid5", "sha1")):
        kf = kfunc(fname)
        h = getattr(hashlib, algorithm)
        entries: dict[str, Entry] = {
            "kestrand": ("f(ns, name)", {"f": kf, "ns": kestrand.UUID(bytes=ns_bytes), "name": name}) if kf else None,
            "stdlib": ("h(name).digest()", {"h": h, "name": name}),
        }
        r = measure(entries, settings)
        mine, theirs = r["kestrand"], r["stdlib"]
        rate = lambda ns: f"{size / ns * 1e3:8.0f}" if ns else "     n/a"  # noqa: E731
        ratio = f"{theirs / mine:.2f}x" if mine and theirs else "n/a"
        lines.append(f"  {fname} / hashlib.{algorithm:<5} {rate(mine)} vs {rate(theirs)}  {ratio}")
    return "\n".join(lines)


def bulk_cases(settings: Settings, table: Table) -> dict[str, float | None]:
    """Bulk functions against list comprehensions; ns per item."""
    mine: dict[str, float | None] = {}
    std7 = getattr(uuid, "uuid7", None)
    for n in (100, settings.big_n):
        comp = "[f() for _ in range(n)]"
        comp_hex = "[f().hex for _ in range(n)]"
        k_single4 = kfunc("uuid4")
        groups: list[tuple[str, str, dict[str, Entry]]] = [
            (
                "uuid4_bulk",
                f"uuid4_bulk({n:,})",
                {
                    "kestrand": ("g(n)", {"g": kfunc("uuid4_bulk"), "n": n}) if kfunc("uuid4_bulk") else None,
                    "stdlib": (comp, {"f": uuid.uuid4, "n": n}),
                    "uuid_utils": (comp, {"f": uuid_utils.uuid4, "n": n}) if uuid_utils else None,
                },
            ),
            (
                "uuid4_as_strings_bulk",
                f"uuid4_as_strings_bulk({n:,})",
                {
                    "kestrand": ("g(n)", {"g": kfunc("uuid4_as_strings_bulk"), "n": n})
                    if kfunc("uuid4_as_strings_bulk")
                    else None,
                    "stdlib": (comp_hex, {"f": uuid.uuid4, "n": n}),
                    "uuid_utils": (comp_hex, {"f": uuid_utils.uuid4, "n": n}) if uuid_utils else None,
                },
            ),
            (
                "uuid7_bulk",
                f"uuid7_bulk({n:,})",
                {
                    "kestrand": ("g(n)", {"g": kfunc("uuid7_bulk"), "n": n}) if kfunc("uuid7_bulk") else None,
                    **({"stdlib": (comp, {"f": std7, "n": n})} if std7 else {}),
                    "uuid_utils": (comp, {"f": uuid_utils.uuid7, "n": n}) if uuid_utils else None,
                    "uuid6": (comp, {"f": uuid6.uuid7, "n": n}) if uuid6 else None,
                },
            ),
            (
                "uuid7_as_strings_bulk",
                f"uuid7_as_strings_bulk({n:,})",
                {
                    "kestrand": ("g(n)", {"g": kfunc("uuid7_as_strings_bulk"), "n": n})
                    if kfunc("uuid7_as_strings_bulk")
                    else None,
                    **({"stdlib": (comp_hex, {"f": std7, "n": n})} if std7 else {}),
                    "uuid_utils": (comp_hex, {"f": uuid_utils.uuid7, "n": n}) if uuid_utils else None,
                    "uuid6": (comp_hex, {"f": uuid6.uuid7, "n": n}) if uuid6 else None,
                },
            ),
        ]
        for name, label, entries in groups:
            r = measure(entries, settings, per=n)
            table.add(f"{label} per item", r)
            mine[f"{name}({n})"] = r["kestrand"]
        if k_single4 is not None:
            loop = measure({"kestrand": (comp, {"f": k_single4, "n": n})}, settings, per=n)
            table.add(f"[uuid4() for {n:,}] per item", loop)
    return mine


# --------------------------------------------------------------------------
# the getrandom floor: what the kernel charges for 16 random bytes

GETRANDOM_C = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdint.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/types.h>
#include <time.h>

/* Average nanoseconds per getrandom(buf, 16, 0) over n calls, or -errno. */
double getrandom_ns_per_call(long n) {
    unsigned char buf[16];
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (long i = 0; i < n; i++) {
        if (getrandom(buf, sizeof buf, 0) != (long)sizeof buf) {
            return -(double)errno;
        }
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    return ((double)(end.tv_sec - start.tv_sec) * 1e9 + (double)(end.tv_nsec - start.tv_nsec)) / (double)n;
}

/* The same, with a shared counter bumped under a lock before each call: what
   any generator pays whose values are ordered across threads. */
static pthread_mutex_t shared_lock = PTHREAD_MUTEX_INITIALIZER;
static unsigned long shared_counter;

double getrandom_shared_counter_ns_per_call(long n) {
    unsigned char buf[16];
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (long i = 0; i < n; i++) {
        pthread_mutex_lock(&shared_lock);
        shared_counter++;
        pthread_mutex_unlock(&shared_lock);
        if (getrandom(buf, sizeof buf, 0) != (long)sizeof buf) {
            return -(double)errno;
        }
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    return ((double)(end.tv_sec - start.tv_sec) * 1e9 + (double)(end.tv_nsec - start.tv_nsec)) / (double)n;
}

/* The kernel's getrandom in the vDSO (Linux 6.11+), which the C library uses
   itself only from glibc 2.41 on: 16 bytes from the same generator, served
   from a per-thread opaque state without entering the kernel. Found through
   the dynamic loader's entry for the vDSO. */
typedef ssize_t (*vgetrandom_fn)(void*, size_t, unsigned int, void*, size_t);
struct vgetrandom_params { uint32_t size, prot, flags, reserved[13]; };

static vgetrandom_fn vdso_function(struct vgetrandom_params* params) {
    void* vdso = dlopen("linux-vdso.so.1", RTLD_LAZY | RTLD_NOLOAD);
    if (vdso == NULL) {
        return NULL;
    }
#if defined(__x86_64__)
    vgetrandom_fn fn = (vgetrandom_fn)dlvsym(vdso, "__vdso_getrandom", "LINUX_2.6");
#elif defined(__aarch64__)
    vgetrandom_fn fn = (vgetrandom_fn)dlvsym(vdso, "__kernel_getrandom", "LINUX_2.6.39");
#else
    vgetrandom_fn fn = NULL;
#endif
    if (fn == NULL || fn(NULL, 0, 0, params, ~(size_t)0) != 0) {
        return NULL;
    }
    return fn;
}

/* Average nanoseconds per 16-byte vDSO getrandom call over n calls with this
   thread's own state; -1 when the kernel offers none, -2 on a failed call. */
double vdso_getrandom_ns_per_call(long n) {
    static __thread void* state;
    struct vgetrandom_params params;
    vgetrandom_fn fn = vdso_function(&params);
    if (fn == NULL) {
        return -1;
    }
    if (state == NULL) {
        state = mmap(NULL, 4096, (int)params.prot, (int)params.flags, -1, 0);
        if (state == MAP_FAILED) {
            state = NULL;
            return -1;
        }
    }
    unsigned char buf[16];
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (long i = 0; i < n; i++) {
        if (fn(buf, sizeof buf, 0, state, params.size) != (ssize_t)sizeof buf) {
            return -2;
        }
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    return ((double)(end.tv_sec - start.tv_sec) * 1e9 + (double)(end.tv_nsec - start.tv_nsec)) / (double)n;
}
"""


class GetrandomProbe:
    """The C loop above, compiled into a temporary shared library and loaded."""

    def __init__(self) -> None:
        self.run: Callable[[int], float] | None = None
        self.run_shared_counter: Callable[[int], float] | None = None
        self.run_vdso: Callable[[int], float] | None = None
        self.note = ""
        self._dir = tempfile.TemporaryDirectory(prefix="kestrand-bench-")
        compiler = os.environ.get("CC") or next((c for c in ("cc", "gcc", "clang") if shutil.which(c)), None)
        if compiler is None:
            self.note = "no C compiler found"
            return
        src, lib = Path(self._dir.name, "floor.c"), Path(self._dir.name, "floor.so")
        src.write_text(GETRANDOM_C)
        build = subprocess.run(
            [compiler, "-O2", "-shared", "-fPIC", "-pthread", "-o", str(lib), str(src), "-ldl"],
            capture_output=True,
            text=True,
        )
        if build.returncode != 0:
            self.note = f"compiling the probe failed: {build.stderr.strip()[:200]}"
            return
        probe = ctypes.CDLL(str(lib))
        for function in (
            probe.getrandom_ns_per_call,
            probe.getrandom_shared_counter_ns_per_call,
            probe.vdso_getrandom_ns_per_call,
        ):
            function.restype = ctypes.c_double
            function.argtypes = [ctypes.c_long]
        self.run_shared_counter = probe.getrandom_shared_counter_ns_per_call
        # ctypes releases the interpreter lock during the call, so the probe
        # also runs in parallel threads.
        self.run = probe.getrandom_ns_per_call
        if probe.vdso_getrandom_ns_per_call(1) >= 0:
            self.run_vdso = probe.vdso_getrandom_ns_per_call
        self.note = f"built with {compiler}"

    def floor_ns(self, settings: Settings) -> float | None:
        """Best ns per 16-byte getrandom call, timed entirely in C."""
        if self.run is None:
            return None
        calls = 20_000 if settings.quick else 200_000
        best = float("inf")
        for _ in range(settings.rounds):
            ns = self.run(calls)
            if ns < 0:
                self.note = f"getrandom failed: {os.strerror(int(-ns))}"
                return None
            best = min(best, ns)
        self.note += f", {calls:,} calls per round"
        return best

    def vdso_floor_ns(self, settings: Settings) -> float | None:
        """Best ns per 16-byte vDSO getrandom call, timed in C; None without one."""
        if self.run_vdso is None:
            return None
        calls = 20_000 if settings.quick else 200_000
        return min(self.run_vdso(calls) for _ in range(settings.rounds))


def floor_costs(settings: Settings, probe: GetrandomProbe) -> dict[str, tuple[float | None, float | None, float | None]]:
    """Each generator beside both floors in the same interleaved rounds, so that
    load on the machine hits them alike: label -> (generator, vDSO floor, system
    call floor), ns per item. Single calls run 1,000 to a loop, whose empty cost
    is measured alongside and subtracted."""
    out: dict[str, tuple[float | None, float | None, float | None]] = {}
    reps = 1000
    loop = range(reps)
    for name in ("uuid4", "uuid7"):
        f = kfunc(name)
        if f is None:
            continue
        entries: dict[str, Entry] = {
            "gen": ("for _ in r: f()", {"f": f, "r": loop}),
            "loop": ("for _ in r: pass", {"r": loop}),
            "vdso": ("p(m)", {"p": probe.run_vdso, "m": reps}) if probe.run_vdso else None,
            "syscall": ("p(m)", {"p": probe.run, "m": reps}) if probe.run else None,
        }
        r = measure(entries, settings, per=reps)
        gen = r["gen"] - r["loop"] if r["gen"] is not None and r["loop"] is not None else None
        out[f"{name}()"] = (gen, r["vdso"], r["syscall"])
    for name in ("uuid4_bulk", "uuid7_bulk", "uuid4_as_strings_bulk", "uuid7_as_strings_bulk"):
        g = kfunc(name)
        if g is None:
            continue
        for n in (100, settings.big_n):
            entries = {
                "gen": ("g(n)", {"g": g, "n": n}),
                "vdso": ("p(n)", {"p": probe.run_vdso, "n": n}) if probe.run_vdso else None,
                "syscall": ("p(n)", {"p": probe.run, "n": n}) if probe.run else None,
            }
            r = measure(entries, settings, per=n)
            out[f"{name}({n})"] = (r["gen"], r["vdso"], r["syscall"])
    return out


def floor_report(note: str, costs: dict[str, tuple[float | None, float | None, float | None]]) -> str:
    """Each generator against the cheapest way the kernel offers to 16 random bytes."""
    lines = [
        "\nEach generator against the kernel's floors for 16 random bytes, timed in C in the same rounds"
        f" ({note}):",
        "  vDSO floor: getrandom in the vDSO with a per-thread state (Linux 6.11+);"
        " syscall floor: the C library's getrandom(buf, 16, 0)",
    ]
    width = max((len(k) for k in costs), default=0)
    for label, (ns, vdso, syscall) in costs.items():
        cheapest = min((f for f in (vdso, syscall) if f), default=None)
        which = "vDSO" if cheapest is not None and cheapest == vdso else "syscall"
        ratio = f"{ns / cheapest:.2f}x {which} floor" if (ns is not None and cheapest) else "n/a"
        lines.append(
            f"  {label.ljust(width)}  {fmt_time(ns):>10}  {ratio:>20}"
            f"   (vDSO floor {fmt_time(vdso)}, syscall floor {fmt_time(syscall)})"
        )
    return "\n".join(lines)


def v1mc_report(floor: float | None, singles: dict[str, float | None]) -> str:
    """uuid_v1mc() makes no system call: compare it with what uuid4() costs
    beyond its getrandom floor (the call, the object, the layout)."""
    v4, v1mc = singles.get("uuid4"), singles.get("uuid_v1mc")
    if not (floor and v4 and v1mc) or v4 <= floor:
        return "\nuuid_v1mc() vs uuid4() minus the floor: n/a"
    rest = v4 - floor
    return (
        f"\nuuid_v1mc() {fmt_time(v1mc)} vs uuid4() minus the floor {fmt_time(rest)}: "
        f"{v1mc / rest:.2f}x"
    )


# --------------------------------------------------------------------------
# threads: the bulk functions release the interpreter lock while generating


def wall_time(fn: Callable[[], Any], threads: int) -> float:
    barrier = threading.Barrier(threads + 1)

    def work() -> None:
        barrier.wait()
        fn()

    workers = [threading.Thread(target=work) for _ in range(threads)]
    for w in workers:
        w.start()
    barrier.wait()
    start = time.perf_counter()
    for w in workers:
        w.join()
    return time.perf_counter() - start


def scaling(fn: Callable[[], Any], settings: Settings) -> str:
    """One call alone, then two calls in two threads at once; best of several rounds."""
    one = two = float("inf")
    for _ in range(max(settings.rounds, 5)):  # two cores are noisy: take more rounds
        gc.collect()
        one = min(one, wall_time(fn, 1))
        gc.collect()
        two = min(two, wall_time(fn, 2))
    return f"one thread {fmt_time(one * 1e9)}, two threads {fmt_time(two * 1e9)} -> {2 * one / two:.2f}x throughput"


def thread_report(settings: Settings, probe: GetrandomProbe) -> str:
    lines = ["\nTwo threads at once vs one thread (throughput ratio; 2.00x = perfect scaling):"]
    n = settings.big_n
    for name in ("uuid4_bulk", "uuid7_bulk", "uuid4_as_strings_bulk"):
        fn = kfunc(name)
        label = f"  {name}({n:,}):"
        lines.append(f"{label} {scaling(lambda: fn(n), settings)}" if fn is not None else f"{label} n/a")
    # What the kernel allows: the same number of bare getrandom calls from C.
    run = probe.run
    label = f"  getrandom x {n:,} (C probe):"
    lines.append(f"{label} {scaling(lambda: run(n), settings)}" if run is not None else f"{label} n/a")
    vdso = probe.run_vdso
    label = f"  vDSO getrandom x {n:,} (C probe):"
    lines.append(f"{label} {scaling(lambda: vdso(n), settings)}" if vdso is not None else f"{label} n/a")
    # Version 7 values are ordered across threads, so each one passes through
    # one shared lock; this probe shows what that alone costs on this machine.
    shared = probe.run_shared_counter
    label = f"  getrandom + shared locked counter x {n:,} (C probe):"
    lines.append(f"{label} {scaling(lambda: shared(n), settings)}" if shared is not None else f"{label} n/a")
    return "\n".join(lines)


# --------------------------------------------------------------------------
# end to end for a database user: new version 7 keys as PostgreSQL's binary
# COPY stream (the format psycopg sends for `COPY ... FROM STDIN (FORMAT
# BINARY)` with the column typed uuid): an 11-byte signature, flags and
# header-extension length (int32 each), then per row a field count (int16 1)
# and the field's length (int32 16) before its 16 bytes, and -1 (int16) at the
# end. Built with the standard library alone; with psycopg installed and
# KESTRAND_BENCH_PG set to a conninfo, a second row also sends it to a server.

COPY_HEADER = b"PGCOPY\n\xff\r\n\x00" + (0).to_bytes(4, "big") + (0).to_bytes(4, "big")
COPY_ROW_PREFIX = (1).to_bytes(2, "big") + (16).to_bytes(4, "big")
COPY_TRAILER = (-1).to_bytes(2, "big", signed=True)


def copy_payload(keys: list[Any]) -> bytes:
    """The binary COPY stream of one uuid column holding `keys`."""
    prefix = COPY_ROW_PREFIX
    return b"".join([COPY_HEADER, *[prefix + k.bytes for k in keys], COPY_TRAILER])


def uuid7_makers(n: int) -> dict[str, Callable[[], list[Any]] | None]:
    """n version 7 keys, each library in its own fastest way."""
    k_bulk = kfunc("uuid7_bulk")
    std7 = getattr(uuid, "uuid7", None)
    makers: dict[str, Callable[[], list[Any]] | None] = {
        "kestrand": (lambda: k_bulk(n)) if k_bulk else None,
        "uuid_utils": (lambda: [uuid_utils.uuid7() for _ in range(n)]) if uuid_utils else None,
        "uuid6": (lambda: [uuid6.uuid7() for _ in range(n)]) if uuid6 else None,
    }
    if std7 is not None:
        makers["stdlib"] = lambda: [std7() for _ in range(n)]
    return makers


def database_report(settings: Settings) -> str:
    n = settings.big_n
    rounds = Settings(settings.quick)
    rounds.target_seconds = max(settings.target_seconds, 0.2)  # one run is already ~10 ms
    table = Table(f"End to end: {n:,} version 7 keys as PostgreSQL binary COPY data (per key)")
    makers = uuid7_makers(n)
    stmt = "payload(make())"
    entries = {name: ((stmt, {"make": m, "payload": copy_payload}) if m else None) for name, m in makers.items()}
    table.add("make keys + build COPY payload", measure(entries, rounds, per=n))
    server = copy_into_server(makers, n, rounds)
    if server is not None:
        table.add("... + COPY into a local server", server)
    lines = [table.render()]
    if server is None:
        lines.append("  (COPY into a server: n/a; install psycopg and set KESTRAND_BENCH_PG to a conninfo)")
    lines.append(conversion_report(settings))
    return "\n".join(lines)


def copy_into_server(
    makers: dict[str, Callable[[], list[Any]] | None], n: int, settings: Settings
) -> dict[str, float | None] | None:
    conninfo = os.environ.get("KESTRAND_BENCH_PG")
    if not conninfo:
        return None
    try:
        import psycopg
    except ImportError:
        return None
    conn = psycopg.connect(conninfo, autocommit=True)
    conn.execute("CREATE TEMP TABLE kestrand_bench_keys (id uuid)")

    def send(make: Callable[[], list[Any]]) -> None:
        with conn.cursor() as cur:
            with cur.copy("COPY kestrand_bench_keys (id) FROM STDIN (FORMAT BINARY)") as copy:
                copy.write(copy_payload(make()))
            cur.execute("TRUNCATE kestrand_bench_keys")

    try:
        entries = {name: (("send(make)", {"send": send, "make": m}) if m else None) for name, m in makers.items()}
        return measure(entries, settings, per=n)
    finally:
        conn.close()


def conversion_report(settings: Settings) -> str:
    """The two ways to a uuid.UUID, and back, timed side by side."""
    k = kestrand.UUID(SAMPLE_HEX) if kestrand is not None else None
    s = uuid.UUID(SAMPLE_HEX)
    K = kfunc("UUID")
    cases = {
        "uuid.UUID(int=u.int)": ("S(int=u.int)", {"S": uuid.UUID, "u": k}) if k is not None else None,
        "uuid.UUID(bytes=u.bytes)": ("S(bytes=u.bytes)", {"S": uuid.UUID, "u": k}) if k is not None else None,
        "kestrand.UUID(bytes=s.bytes)": ("K(bytes=s.bytes)", {"K": K, "s": s}) if K else None,
        "kestrand.UUID(int=s.int)": ("K(int=s.int)", {"K": K, "s": s}) if K else None,
    }
    r = measure(cases, settings)
    lines = ["\nConverting to and from uuid.UUID (per value):"]
    lines += [f"  {label:<30} {fmt_time(ns):>10}" for label, ns in r.items()]
    return "\n".join(lines)


# --------------------------------------------------------------------------
# the picture: --plot FILE.png


def machine_caption() -> str:
    """Processor, Python and the versions of everything measured."""
    cpu = platform.machine()
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass

    def version(dist: str) -> str:
        try:
            return importlib.metadata.version(dist)
        except importlib.metadata.PackageNotFoundError:
            return "not installed"

    peers = ", ".join(f"{dist} {version(dist)}" for dist in ("uuid-utils", "uuid6"))
    return (
        f"{cpu}, {os.cpu_count()} CPUs, {platform.system()} {platform.release()}\n"
        f"Python {platform.python_version()}, kestrand {version('kestrand')}, {peers}; "
        f"best of interleaved rounds, {time.strftime('%Y-%m-%d')}"
    )


def plot_ratios(table: Table, path: str) -> None:
    """Horizontal bars, one group per operation: how many times faster kestrand
    is than each other implementation (other's time / kestrand's), log scale."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import matplotlib.ticker
    others = [c for c in CONTENDERS[1:] if any(r.get(c) for _, r in table.rows)]
    rows = [(label, r) for label, r in table.rows if r.get("kestrand") and any(r.get(c) for c in others)]
    if not rows:
        print("\nno plot: no operation was measured for kestrand and another implementation")
        return
    height = 0.8 / max(len(others), 1)
    every = [r[c] / r["kestrand"] for _, r in rows for c in others if r.get(c)]
    fig, ax = plt.subplots(figsize=(9, 0.42 * len(rows) + 1.6))
    for i, name in enumerate(others):
        ys, ratios = [], []
        for row, (_, results) in enumerate(rows):
            if results.get(name):
                ys.append(row + (i - (len(others) - 1) / 2) * height)
                ratios.append(results[name] / results["kestrand"])
        # Each bar runs from 1x to the ratio: right for faster, left for slower.
        bars = ax.barh(ys, [r - 1 for r in ratios], left=1, height=height, label=name)
        ax.bar_label(bars, labels=[f"{r:.3g}x" for r in ratios], padding=2, fontsize=7)
    ax.set_xscale("log")
    ax.set_xlim(min(min(every), 1) / 2.5, max(max(every), 1) * 2.5)  # room for the labels
    ax.xaxis.set_major_formatter(matplotlib.ticker.FuncFormatter(lambda x, _: f"{x:g}x"))
    ax.axvline(1.0, color="black", linewidth=0.8)
    ax.set_yticks(range(len(rows)), [label for label, _ in rows], fontsize=8)
    ax.invert_yaxis()
    ax.set_xlabel("kestrand's speed-up: the other's time / kestrand's (right of 1x: kestrand is faster)")
    ax.set_title("kestrand against the standard library and its peers")
    ax.legend(loc="lower right", fontsize=8)
    ax.grid(axis="x", which="both", alpha=0.3)
    fig.text(0.01, 0.005, machine_caption(), fontsize=7, va="bottom")
    fig.tight_layout(rect=(0, 0.04, 1, 1))
    fig.savefig(path, dpi=110)
    print(f"\nplot written to {path}")


# --------------------------------------------------------------------------


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer and shorter rounds")
    parser.add_argument("--plot", metavar="FILE.png", help="also draw the ratios (needs matplotlib)")
    args = parser.parse_args()
    if args.plot and importlib.util.find_spec("matplotlib") is None:
        sys.exit("--plot needs matplotlib: python3 -m pip install matplotlib")
    settings = Settings(args.quick)

    print(f"Python {platform.python_version()} ({platform.python_implementation()}) on {platform.machine()}")
    print(f"CPU count {os.cpu_count()}, {settings.rounds} interleaved rounds, best round reported")
    if kestrand is None:
        print(f"kestrand: not importable ({KESTRAND_IMPORT_ERROR}); its columns show n/a")
    else:
        print(f"kestrand: {kestrand.__file__}")
    for name, mod in (("uuid_utils", uuid_utils), ("uuid6", uuid6)):
        print(f"{name}: {getattr(mod, '__version__', 'installed') if mod else 'not installed'}")
    print("Times are per operation (bulk: per item), empty-loop cost subtracted.")
    print("Ratio columns are other/kestrand (x/k): above 1 means kestrand is faster.")

    table = Table("Per-operation time")
    class_cases(settings, table)
    singles = generator_cases(settings, table)
    bulk_cases(settings, table)
    print(table.render())

    mem = memory_per_object(settings.big_n)
    print(f"\nMemory per live UUID object (tracemalloc, {settings.big_n:,} objects):")
    for name, size in mem.items():
        shown = f"{size:.1f} bytes" if size is not None else "n/a"
        extra = f"  ({fmt_ratio(size, mem.get('kestrand'))} of kestrand)" if name != "kestrand" else ""
        print(f"  {name:<10} {shown:>14}{extra}")

    probe = GetrandomProbe()
    floor = probe.floor_ns(settings)
    print(f"\ngetrandom(buf, 16, 0) floor, timed in C: {fmt_time(floor)}  ({probe.note})")
    vdso_floor = probe.vdso_floor_ns(settings)
    print(
        "vDSO getrandom floor (16 bytes, per-thread state), timed in C: "
        + (f"{fmt_time(vdso_floor)}" if vdso_floor else "n/a: the kernel offers none")
    )
    print(floor_report(probe.note, floor_costs(settings, probe)))
    print(v1mc_report(min((f for f in (floor, vdso_floor) if f), default=None), singles))
    print(digest_report(settings))
    print(thread_report(settings, probe))
    print(database_report(settings))
    if args.plot:
        plot_ratios(table, args.plot)


if __name__ == "__main__":
    main()
