"""The timing harness: every contender of a case timed once per round, the
rounds interleaved (A B C, A B C, ...) so that drift in clock speed or machine
load hits all contenders alike, and the best round kept, with the cost of the
empty timing loop subtracted."""

from __future__ import annotations

import gc
import threading
import time
import timeit
from collections.abc import Callable
from typing import Any


# The clock of every per-operation measurement: wall time, or with
# use_thread_cpu_time() the thread's own CPU time, which leaves out the time
# the thread waits for a core on a machine busy with other work. (The thread
# scaling report always uses wall time.)
clock: Callable[[], float] = time.perf_counter


def use_thread_cpu_time() -> None:
    global clock
    clock = time.thread_time


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


def loop_overhead_ns(number: int) -> float:
    timer = timeit.Timer("pass", timer=clock)
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
        timer = timeit.Timer(stmt, timer=clock, globals=dict(names))
        number = calibrate(timer, settings.target_seconds)
        timers[name] = (timer, number, loop_overhead_ns(number))
    best: dict[str, float] = {}
    for _ in range(settings.rounds):
        for name, (timer, number, overhead) in timers.items():
            gc.collect()
            ns = timer.timeit(number) / number * 1e9 - overhead
            best[name] = min(best.get(name, float("inf")), max(ns, 0.0))
    return {name: (best[name] / per if name in best else None) for name in entries}



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

