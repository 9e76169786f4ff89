"""Formatting: times, ratios and the per-operation table."""

from __future__ import annotations

import sys

from .contenders import CONTENDERS


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

