"""The bulk calls from one item to ten million (--bulk-sizes): the cost per
item at each count, the peak memory of a fresh process holding ten million,
and how soon Ctrl-C ends a long call; each against list comprehensions over
uuid-utils (the peer) and the standard library.

Every list made is kept alive until its timing ends, as a caller keeps what
it asked for: at large counts the cost of faulting in fresh memory belongs to
the call.
"""

from __future__ import annotations

import gc
import json
import os
import signal
import subprocess
import sys
import time
import uuid
from collections.abc import Callable
from pathlib import Path
from typing import Any

from . import harness
from .contenders import kfunc, uuid_utils
from .harness import Settings
from .report import fmt_ratio, fmt_time

SIZES = (1, 100, 1_000, 10_000, 100_000, 1_000_000, 10_000_000)
BIG = 10_000_000
ITEMS_PER_TIMING = 200_000  # small counts repeat the call up to this many items


def makers(name: str) -> dict[str, Callable[[int], Any] | None]:
    """kestrand's bulk function `name` and the list comprehensions it stands for."""
    version = name[4]
    text = "strings" in name
    bulk = kfunc(name)
    peer = getattr(uuid_utils, f"uuid{version}", None) if uuid_utils else None
    std = getattr(uuid, f"uuid{version}", None)

    def comprehension(make: Callable[[], Any] | None) -> Callable[[int], Any] | None:
        if make is None:
            return None
        if text:
            return lambda n: [make().hex for _ in range(n)]
        return lambda n: [make() for _ in range(n)]

    return {"kestrand": bulk, "uuid_utils": comprehension(peer), "stdlib": comprehension(std)}


def per_item_ns(make: Callable[[int], Any], n: int) -> float:
    """One timing: enough calls for ITEMS_PER_TIMING items, every list kept until the end."""
    calls = max(1, ITEMS_PER_TIMING // n)
    kept = []
    gc.collect()
    start = harness.clock()
    for _ in range(calls):
        kept.append(make(n))
    elapsed = harness.clock() - start
    del kept
    return elapsed / (calls * n) * 1e9


def cost_by_size(settings: Settings, name: str = "uuid4_bulk") -> dict[int, dict[str, float | None]]:
    """ns per item at each count, best of interleaved rounds (fewer from a million up)."""
    contenders = makers(name)
    result: dict[int, dict[str, float | None]] = {}
    for n in SIZES:
        rounds = settings.rounds if n < 1_000_000 else max(2, settings.rounds // 2)
        best: dict[str, float | None] = {who: None for who in contenders}
        for _ in range(rounds):
            for who, make in contenders.items():
                if make is None:
                    continue
                ns = per_item_ns(make, n)
                best[who] = ns if best[who] is None else min(best[who], ns)  # type: ignore[type-var]
        result[n] = best
    return result


# A fresh interpreter per case: ru_maxrss would carry over this process's own
# peak through the fork and exec, VmHWM starts anew with the new image.
PEAK_CHILD = r"""
import sys
sys.path.insert(0, sys.argv[1])
from kestrand_bench.bulk_sizes import makers

def peak():
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmHWM:"))

make = makers(sys.argv[2])[sys.argv[3]]
if make is None:
    print("null")
else:
    before = peak()
    items = make(int(sys.argv[4]))
    print(peak(), before)
"""


def peak_memory(name: str, who: str, n: int) -> tuple[int, int] | None:
    """(VmHWM after the list of n items exists, VmHWM before), in bytes."""
    here = str(Path(__file__).resolve().parent.parent)
    out = subprocess.run([sys.executable, "-c", PEAK_CHILD, here, name, who, str(n)],
                         capture_output=True, text=True, check=True).stdout.split()
    return None if out == ["null"] else (int(out[0]), int(out[1]))


# The call is interrupted once its items hold 128 MB; the child notes when the
# KeyboardInterrupt reaches its handler, on the clock this process reads
# (CLOCK_MONOTONIC, shared by every process).
INTERRUPT_CHILD = r"""
import sys, time
sys.path.insert(0, sys.argv[1])
from kestrand_bench.bulk_sizes import makers

make = makers(sys.argv[2])[sys.argv[3]]
print("ready", flush=True)
try:
    make(40_000_000)
except KeyboardInterrupt:
    print(time.monotonic(), flush=True)
else:
    print("finished", flush=True)
"""


def resident_bytes(pid: int) -> int:
    with open(f"/proc/{pid}/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def interrupt_latency(name: str, who: str) -> float | None:
    """Seconds from SIGINT to the handler, during a call for forty million items."""
    here = str(Path(__file__).resolve().parent.parent)
    child = subprocess.Popen([sys.executable, "-c", INTERRUPT_CHILD, here, name, who],
                             stdout=subprocess.PIPE, text=True)
    try:
        child.stdout.readline()  # type: ignore[union-attr]
        base = resident_bytes(child.pid)
        while resident_bytes(child.pid) - base < 128 << 20:
            if child.poll() is not None:
                return None
            time.sleep(0.001)
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        answer = child.communicate(timeout=600)[0].strip()
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    return float(answer) - sent if answer and answer != "finished" else None


def bulk_sizes_report(settings: Settings) -> tuple[str, dict[str, Any]]:
    """The report's text and its figures (for --json and --plot)."""
    figures: dict[str, Any] = {"cost_ns": {}, "peak_bytes": {}, "interrupt_s": {}}
    lines = ["\nuuid4_bulk(n) against list comprehensions, ns per item, every list kept alive:"]
    costs = cost_by_size(settings)
    figures["cost_ns"] = {str(n): row for n, row in costs.items()}
    lines.append(f"  {'n':>12} {'kestrand':>10} {'uuid-utils':>11} {'x/k':>7} {'stdlib':>10} {'x/k':>7}")
    for n, row in costs.items():
        mine = row["kestrand"]
        lines.append(f"  {n:>12,} {fmt_time(mine):>10} {fmt_time(row['uuid_utils']):>11}"
                     f" {fmt_ratio(row['uuid_utils'], mine):>7} {fmt_time(row['stdlib']):>10}"
                     f" {fmt_ratio(row['stdlib'], mine):>7}")
    small, big = costs[10_000]["kestrand"], costs[BIG]["kestrand"]
    if small and big:
        lines.append(f"  kestrand's cost per item at {BIG:,} is {big / small:.2f}x its cost at 10,000")

    lines.append(f"\nPeak memory (VmHWM) of a fresh process holding {BIG:,} items:")
    lines.append(f"  {'kestrand':<24} {'MB':>7} {'uuid-utils':>11} {'MB':>7} {'k/x':>6}")
    for name in ("uuid4_bulk", "uuid7_bulk", "uuid4_as_strings_bulk"):
        mine = peak_memory(name, "kestrand", BIG)
        peer = peak_memory(name, "uuid_utils", BIG)
        figures["peak_bytes"][name] = {"kestrand": mine, "uuid_utils": peer}
        if mine is None or peer is None:
            lines.append(f"  {name:<24} n/a")
            continue
        lines.append(f"  {name:<24} {mine[0] / 1e6:>7.0f} {'list comp.':>11} {peer[0] / 1e6:>7.0f}"
                     f" {mine[0] / peer[0]:>5.2f}x")

    lines.append("\nCtrl-C during a call for 40,000,000 items, sent once 128 MB of items exist:")
    for name, who in (("uuid4_bulk", "kestrand"), ("uuid4_bulk", "uuid_utils")):
        seconds = interrupt_latency(name, who)
        figures["interrupt_s"][f"{name} {who}"] = seconds
        shown = f"{seconds * 1e3:.1f} ms" if seconds is not None else "n/a"
        label = "uuid4_bulk" if who == "kestrand" else "uuid-utils list comprehension"
        lines.append(f"  {label:<32} answered after {shown}")
    return "\n".join(lines), figures


def write_figures(path: str, figures: dict[str, Any]) -> None:
    Path(path).write_text(json.dumps(figures, indent=1) + "\n")
