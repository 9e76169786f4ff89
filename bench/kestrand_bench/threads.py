"""Two threads at once against one: the bulk functions release the interpreter
lock while generating, set beside the C probe's bare getrandom loops."""

from __future__ import annotations

import gc
from collections.abc import Callable
from typing import Any

from .contenders import kfunc
from .floors import GetrandomProbe
from .harness import Settings, wall_time
from .report import fmt_time


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

