"""The picture of the per-operation table (--plot FILE.png)."""

from __future__ import annotations

import importlib.metadata
import os
import platform
import time
from pathlib import Path

from .contenders import CONTENDERS
from .report import Table


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



def plot_bulk_sizes(costs: dict[int, dict[str, float | None]], path: str) -> None:
    """ns per item against the count, both on log scales, one line per contender."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    labels = {"kestrand": "kestrand uuid4_bulk(n)", "uuid_utils": "[uuid_utils.uuid4() for ...]",
              "stdlib": "[uuid.uuid4() for ...]"}
    fig, ax = plt.subplots(figsize=(8, 4.8))
    for who, label in labels.items():
        points = [(n, row[who]) for n, row in sorted(costs.items()) if row.get(who)]
        if points:
            ax.plot(*zip(*points), marker="o", label=label)
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("n, items in one list (kept alive)")
    ax.set_ylabel("ns per item")
    ax.set_title(f"Cost per item against the size of the list, Python {platform.python_version()}")
    ax.grid(which="both", alpha=0.3)
    ax.legend(fontsize=8)
    fig.text(0.01, 0.005, machine_caption(), fontsize=7, va="bottom")
    fig.tight_layout(rect=(0, 0.06, 1, 1))
    fig.savefig(path, dpi=110)
    print(f"\nplot written to {path}")
