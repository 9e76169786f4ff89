"""The getrandom floors: what the kernel charges for 16 random bytes, through
the vDSO as kestrand calls it, through the C library's getrandom() and by the
bare system call, timed in C (floor_probe.c, compiled on demand) in the same
interleaved rounds as each other and as the generators they are set beside.

From glibc 2.41 on, the C library's getrandom() goes through the vDSO itself;
there the C library floor is a vDSO path too, and the system call floor shows
what entering the kernel costs."""

from __future__ import annotations

import ctypes
import os
import shutil
import subprocess
import tempfile
from collections.abc import Callable
from pathlib import Path

from .contenders import kfunc
from .harness import Entry, Settings, measure
from .report import fmt_time

PROBE_SOURCE = Path(__file__).with_name("floor_probe.c")


class GetrandomProbe:
    """floor_probe.c, compiled into a temporary shared library and loaded."""

    def __init__(self) -> None:
        self.run: Callable[[int], float] | None = None
        self.run_shared_counter: Callable[[int], float] | None = None
        self.run_vdso: Callable[[int], float] | None = None
        self.run_syscall: Callable[[int], float] | None = None
        self.note = ""
        self._dir = tempfile.TemporaryDirectory(prefix="kestrand-bench-")
        compiler = os.environ.get("CC") or next((c for c in ("cc", "gcc", "clang") if shutil.which(c)), None)
        if compiler is None:
            self.note = "no C compiler found"
            return
        lib = Path(self._dir.name, "floor_probe.so")
        build = subprocess.run(
            [compiler, "-O2", "-shared", "-fPIC", "-pthread", "-o", str(lib), str(PROBE_SOURCE), "-ldl"],
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
            probe.syscall_getrandom_ns_per_call,
        ):
            function.restype = ctypes.c_double
            function.argtypes = [ctypes.c_long]
        self.run_shared_counter = probe.getrandom_shared_counter_ns_per_call
        # ctypes releases the interpreter lock during the call, so the probe
        # also runs in parallel threads.
        self.run = probe.getrandom_ns_per_call
        if probe.vdso_getrandom_ns_per_call(1) >= 0:
            self.run_vdso = probe.vdso_getrandom_ns_per_call
        if probe.syscall_getrandom_ns_per_call(1) >= 0:
            self.run_syscall = probe.syscall_getrandom_ns_per_call
        self.note = f"built with {compiler}"


def floor_costs(settings: Settings, probe: GetrandomProbe) -> dict[str, tuple[float | None, float | None, float | None]]:
    """Each generator beside both floors in the same interleaved rounds, so that
    load on the machine hits them alike: label -> (generator, vDSO floor, C
    library floor), ns per item. Single calls run 1,000 to a loop, whose empty cost
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
        " libc floor: the C library's getrandom(buf, 16, 0)",
    ]
    width = max((len(k) for k in costs), default=0)
    for label, (ns, vdso, libc) in costs.items():
        cheapest = min((f for f in (vdso, libc) if f), default=None)
        which = "vDSO" if cheapest is not None and cheapest == vdso else "libc"
        ratio = f"{ns / cheapest:.2f}x {which} floor" if (ns is not None and cheapest) else "n/a"
        lines.append(
            f"  {label.ljust(width)}  {fmt_time(ns):>10}  {ratio:>20}"
            f"   (vDSO floor {fmt_time(vdso)}, libc floor {fmt_time(libc)})"
        )
    return "\n".join(lines)


def c_library() -> tuple[str, tuple[int, ...] | None]:
    """The C library's name and version as it reports them ("glibc 2.43")."""
    try:
        text = os.confstr("CS_GNU_LIBC_VERSION") or ""
    except (ValueError, OSError):
        text = ""
    name, _, version = text.partition(" ")
    try:
        parsed = tuple(int(part) for part in version.split("."))
    except ValueError:
        parsed = None
    return (text or "unknown C library"), (parsed if name == "glibc" else None)


def side_by_side_floors(settings: Settings, probe: GetrandomProbe) -> dict[str, float | None]:
    """The three floors in the same interleaved rounds: "vdso" (the kernel's
    vDSO getrandom called directly with a per-thread state, as kestrand calls
    it), "libc" (the C library's getrandom) and "syscall" (the bare system
    call), ns per 16-byte request."""
    reps = 1000
    entries: dict[str, Entry] = {
        name: ("p(m)", {"p": run, "m": reps}) if run else None
        for name, run in (("vdso", probe.run_vdso), ("libc", probe.run), ("syscall", probe.run_syscall))
    }
    return measure(entries, settings, per=reps)


def floors_report(note: str, floors: dict[str, float | None], vdso_offered: bool) -> str:
    """The floors side by side, each as a ratio to the direct vDSO call. On a
    C library whose getrandom() goes through the vDSO itself (glibc 2.41 and
    later) the first two are both vDSO paths: kestrand's own and the C
    library's."""
    library, version = c_library()
    if not vdso_offered:
        libc_path = "the system call (the kernel offers no vDSO getrandom)"
    elif version is not None and version >= (2, 41):
        libc_path = "the vDSO itself (glibc 2.41 and later)"
    elif version is not None:
        libc_path = "the system call (glibc before 2.41)"
    else:
        libc_path = "unknown"
    base = floors.get("vdso")
    rows = [
        ("vDSO getrandom, called directly (kestrand's path)", floors.get("vdso")),
        ("the C library's getrandom(buf, 16, 0)", floors.get("libc")),
        ("the getrandom system call, syscall(SYS_getrandom)", floors.get("syscall")),
    ]
    lines = [
        f"\nFloors for 16 random bytes, timed in C in the same rounds ({note}):",
        f"  C library: {library}; its getrandom() goes through {libc_path}",
    ]
    width = max(len(label) for label, _ in rows)
    for label, ns in rows:
        ratio = f"{ns / base:.2f}x the direct call" if (ns is not None and base) else ""
        shown = fmt_time(ns) if ns is not None else "n/a"
        lines.append(f"  {label.ljust(width)}  {shown:>10}  {ratio}")
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

