"""Two or more builds of kestrand side by side: the hot operations timed in
alternating processes, one per build and round, with uuid-utils timed in the
same processes as a yardstick, and the best round of each kept.

A change of one or two per cent is below what two separate runs of the
benchmark can tell apart (the machine drifts between them); alternating the
builds round by round puts them under the same drift.

    python3 -m pip install --no-deps --target build/compare/before .
    (change the code)
    python3 -m pip install --no-deps --target build/compare/after .
    python3 bench/compare_builds.py build/compare/before build/compare/after

In the sid-amd64 tree, for 3.14, run the same through `tests/debian/tree.sh
run sid-amd64` with the venv that `bench/in_tree.sh 3.14` leaves in
build/sid-amd64/bench-3.14 (docs/performance.md).
"""

from __future__ import annotations

import argparse
import json
import subprocess
import sys
from pathlib import Path

# Each case: the statement, the names it uses (kestrand's and the yardstick's),
# and how many items one execution makes.
CHILD = r"""
import json, sys
sys.path[:0] = [sys.argv[1], sys.argv[2]]
import kestrand
from kestrand_bench.harness import Settings, measure
try:
    import uuid_utils
except ImportError:
    uuid_utils = None
assert kestrand.__file__.startswith(sys.argv[1]), kestrand.__file__

def peer_bulk(make):
    return lambda n: [make() for _ in range(n)]

cases = {
    "uuid4()": ("f()", kestrand.uuid4, uuid_utils and uuid_utils.uuid4, 1),
    "uuid7()": ("f()", kestrand.uuid7, uuid_utils and uuid_utils.uuid7, 1),
    "uuid1()": ("f()", kestrand.uuid1, uuid_utils and uuid_utils.uuid1, 1),
    # uuid-utils has no random-node version 1; its uuid1() is the yardstick.
    "uuid_v1mc()": ("f()", kestrand.uuid_v1mc, uuid_utils and uuid_utils.uuid1, 1),
    "hash(u)": ("hash(u)", kestrand.uuid4(), uuid_utils and uuid_utils.uuid4(), 1),
    "str(u)": ("str(u)", kestrand.uuid4(), uuid_utils and uuid_utils.uuid4(), 1),
    "uuid4_bulk(1)": ("f(1)", kestrand.uuid4_bulk, uuid_utils and peer_bulk(uuid_utils.uuid4), 1),
    "uuid4_bulk(100)": ("f(100)", kestrand.uuid4_bulk, uuid_utils and peer_bulk(uuid_utils.uuid4), 100),
    "uuid4_bulk(100 000)": ("f(100_000)", kestrand.uuid4_bulk,
                            uuid_utils and peer_bulk(uuid_utils.uuid4), 100_000),
    "uuid7_bulk(100 000)": ("f(100_000)", kestrand.uuid7_bulk,
                            uuid_utils and peer_bulk(uuid_utils.uuid7), 100_000),
}
settings = Settings(quick=False)
settings.rounds = 1  # the rounds alternate between processes instead
out = {}
for name, (stmt, mine, theirs, per) in cases.items():
    names = "u" if stmt.endswith("(u)") else "f"
    entries = {"kestrand": (stmt, {names: mine})}
    if theirs is not None:
        entries["uuid_utils"] = (stmt, {names: theirs})
    out[name] = measure(entries, settings, per=per)
print(json.dumps(out))
"""


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("builds", nargs="+", type=Path, help="folders that each hold an installed kestrand")
    parser.add_argument("--rounds", type=int, default=7, help="rounds per build (default 7)")
    args = parser.parse_args()
    here = Path(__file__).resolve().parent
    best: dict[Path, dict[str, dict[str, float]]] = {build: {} for build in args.builds}
    for _ in range(args.rounds):
        for build in args.builds:
            child = [sys.executable, "-c", CHILD, str(build.resolve()), str(here)]
            result = json.loads(subprocess.run(child, capture_output=True, text=True, check=True).stdout)
            for case, times in result.items():
                kept = best[build].setdefault(case, {})
                for who, ns in times.items():
                    if ns is not None:
                        kept[who] = min(kept.get(who, float("inf")), ns)
    first = args.builds[0]
    print(f"Best of {args.rounds} alternating rounds, ns per item; x: uuid-utils / kestrand in the same processes")
    for case in best[first]:
        cells = []
        for build in args.builds:
            times = best[build][case]
            mine = times["kestrand"]
            ratio = f" {times['uuid_utils'] / mine:.3f}x" if "uuid_utils" in times else ""
            change = "" if build == first else f" ({mine / best[first][case]['kestrand'] - 1:+.1%})"
            cells.append(f"{build.name}: {mine:6.1f}{ratio}{change}")
        print(f"  {case:<22} " + "   ".join(cells))


if __name__ == "__main__":
    main()
