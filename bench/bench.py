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
    python3 bench/bench.py --json FILE.json  # and every time unrounded, to compare runs
    python3 bench/bench.py --bulk-sizes [--plot FILE.png] [--json FILE.json]
                                             # only the bulk calls from 1 to 10 million items
    python3 bench/bench.py --integrations    # only the recipes of docs/integrations.md
                                             # (1,000,000 keys a column; --quick: 100,000)
"""

from __future__ import annotations

import argparse
import importlib.util
import json
import os
import platform
import sys
from pathlib import Path

# The parts live in the package beside this file (kestrand_bench/__init__.py
# lists them); this file is the command line and the order of the report.
sys.path.insert(0, str(Path(__file__).resolve().parent))

from kestrand_bench.contenders import KESTRAND_IMPORT_ERROR, kestrand, uuid6, uuid_utils  # noqa: E402
from kestrand_bench.bulk_sizes import bulk_sizes_report, write_figures  # noqa: E402
from kestrand_bench.database import database_report  # noqa: E402
from kestrand_bench.floors import (  # noqa: E402
    GetrandomProbe,
    c_library,
    floor_costs,
    floor_report,
    floors_report,
    side_by_side_floors,
    v1mc_report,
)
from kestrand_bench.generators import bulk_cases, digest_report, generator_cases  # noqa: E402
from kestrand_bench.harness import Settings, use_thread_cpu_time  # noqa: E402
from kestrand_bench.integrations import integration_cases  # noqa: E402
from kestrand_bench.plot import plot_bulk_sizes, plot_ratios  # noqa: E402
from kestrand_bench.report import Table  # noqa: E402
from kestrand_bench.threads import thread_report  # noqa: E402
from kestrand_bench.uuid_class import class_cases, memory_report  # noqa: E402


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer and shorter rounds")
    parser.add_argument("--plot", metavar="FILE.png", help="also draw the ratios (needs matplotlib)")
    parser.add_argument(
        "--json",
        metavar="FILE.json",
        help="also write every measured time in ns, unrounded, with the floors and what ran",
    )
    parser.add_argument(
        "--cpu-time",
        action="store_true",
        help="time each operation by the thread's CPU time rather than the wall clock"
        " (for a machine busy with other work; the thread scaling report stays wall time)",
    )
    parser.add_argument(
        "--bulk-sizes",
        action="store_true",
        help="only uuid4_bulk from 1 to 10 million items (cost per item, peak memory, Ctrl-C);"
        " --plot then draws the cost per item against n, --json writes its figures",
    )
    parser.add_argument(
        "--integrations",
        action="store_true",
        help="time only the recipes of docs/integrations.md, with the tools that are installed",
    )
    args = parser.parse_args()
    if args.plot and importlib.util.find_spec("matplotlib") is None:
        sys.exit("--plot needs matplotlib: python3 -m pip install matplotlib")
    settings = Settings(args.quick)
    if args.cpu_time:
        use_thread_cpu_time()

    print(f"Python {platform.python_version()} ({platform.python_implementation()}) on {platform.machine()}")
    print(f"CPU count {os.cpu_count()}, {settings.rounds} interleaved rounds, best round reported")
    if kestrand is None:
        print(f"kestrand: not importable ({KESTRAND_IMPORT_ERROR}); its columns show n/a")
    else:
        print(f"kestrand: {kestrand.__file__}")
    for name, mod in (("uuid_utils", uuid_utils), ("uuid6", uuid6)):
        print(f"{name}: {getattr(mod, '__version__', 'installed') if mod else 'not installed'}")
    print("Times are per operation (bulk: per item), empty-loop cost subtracted"
          + (", in the thread's CPU time." if args.cpu_time else "."))
    print("Ratio columns are other/kestrand (x/k): above 1 means kestrand is faster.")

    if args.bulk_sizes:
        text, figures = bulk_sizes_report(settings)
        print(text)
        if args.plot:
            plot_bulk_sizes({int(n): row for n, row in figures["cost_ns"].items()}, args.plot)
        if args.json:
            write_figures(args.json, figures)
        return
    if args.integrations:
        table = integration_cases(settings, 100_000 if args.quick else 1_000_000)
        print(table.render())
        if args.json:
            write_json(args.json, table, {}, settings)
        return

    table = Table("Per-operation time")
    class_cases(settings, table)
    singles = generator_cases(settings, table)
    bulk_cases(settings, table)
    print(table.render())

    print(memory_report(settings.big_n))

    probe = GetrandomProbe()
    floors = side_by_side_floors(settings, probe)
    print(floors_report(probe.note, floors, probe.run_vdso is not None))
    print(floor_report(probe.note, floor_costs(settings, probe)))
    print(v1mc_report(min((f for f in (floors["vdso"], floors["libc"]) if f), default=None), singles))
    print(digest_report(settings))
    print(thread_report(settings, probe))
    print(database_report(settings))
    if args.plot:
        plot_ratios(table, args.plot)
    if args.json:
        write_json(args.json, table, floors, settings)


def write_json(path: str, table: Table, floors: dict[str, float | None], settings: Settings) -> None:
    """The table's times and the floors as measured (ns per operation or per
    item, None where a contender lacks the case), for comparing runs exactly:
    the report rounds ratios to two decimals."""
    record = {
        "python": platform.python_version(),
        "machine": platform.machine(),
        "c_library": c_library()[0],
        "rounds": settings.rounds,
        "kestrand": getattr(kestrand, "__file__", None),
        "peers": {name: getattr(mod, "__version__", "installed") if mod else None
                  for name, mod in (("uuid_utils", uuid_utils), ("uuid6", uuid6))},
        "times_ns": dict(table.rows),
        "floors_ns": floors,
    }
    Path(path).write_text(json.dumps(record, indent=1) + "\n")


if __name__ == "__main__":
    main()
