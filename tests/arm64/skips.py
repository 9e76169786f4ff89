"""Fails unless every test skipped in a run is skipped for an expected reason.

    python skips.py REPORT.xml 'REASON REGEX'...

REPORT.xml is pytest's --junitxml report. A suite run on a machine that has
all the suite needs (a C compiler for the failure shim, strace, libfaketime,
mypy) may still skip where a precondition of the machine itself is absent;
the regexes name those reasons. Any other skip fails: a tool missing from the
tree would otherwise pass silently.
"""

from __future__ import annotations

import collections
import re
import sys
import xml.etree.ElementTree as ET


def main() -> int:
    report, *allowed = sys.argv[1:]
    patterns = [re.compile(a) for a in allowed]
    reasons: collections.Counter[str] = collections.Counter()
    total = 0
    for case in ET.parse(report).iter("testcase"):
        total += 1
        for skipped in case.iter("skipped"):
            reasons[skipped.get("message", "")] += 1
    print(f"{report}: {total} tests, {sum(reasons.values())} skipped")
    unexpected = 0
    for reason, count in sorted(reasons.items()):
        expected = any(p.search(reason) for p in patterns)
        print(f"  {count:5d}  {'expected' if expected else 'UNEXPECTED'}: {reason}")
        unexpected += 0 if expected else count
    if total == 0 or unexpected:
        print(f"error: {unexpected} tests skipped for a reason not expected here")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
