"""Checks of the built distributions, run by the wheel stage of tests/run_all.sh.

    check.py symbols --plat manylinux_2_28_x86_64 WHEEL...
        Every versioned symbol that the wheel's extension modules import, against
        auditwheel's own manylinux policies: prints the oldest policy each module
        meets and the symbols that keep it from the next older one; fails,
        naming each symbol, when a module needs more than the given policy allows.
    check.py same WHEEL_A WHEEL_B
        The two wheels hold the same files with the same bytes.
    check.py sdist SDIST
        The sdist holds no build trees, environments, caches or binaries.
    check.py machine --machine aarch64 --suffix .cpython-314-aarch64-linux-gnu.so WHEEL
        What a cross build must get right: each extension module is an ELF for
        that machine and no other, named with the suffix the target's own
        interpreter loads, and the wheel's platform tag names the machine.

Needs auditwheel (for its policy file) and objdump ($OBJDUMP, for a foreign
machine's wheels: aarch64-linux-gnu-objdump, say).
"""

from __future__ import annotations

import argparse
import fnmatch
import json
import os
import re
import subprocess
import sys
import tarfile
import tempfile
import zipfile
from pathlib import Path, PurePosixPath

# objdump -T: "0000000000000000      DF *UND*\t0000000000000000 (GLIBC_2.34) pthread_once"
UNDEFINED = re.compile(r"\*UND\*\s+\S+\s+\(?([A-Z_]+)_([0-9][0-9.]*)\)?\s+(\S+)$")


def version_key(version: str) -> tuple[int, ...]:
    return tuple(int(part) for part in version.split(".") if part.isdigit())


def manylinux_policies(arch: str) -> list[tuple[str, dict[str, set[str]]]]:
    """(name, allowed versions by family), oldest policy first."""
    import auditwheel.policy

    path = Path(auditwheel.policy.__file__).with_name("manylinux-policy.json")
    policies = []
    for policy in json.loads(path.read_text()):
        versions = policy["symbol_versions"].get(arch)
        if policy["name"] != "linux" and versions is not None:
            name = f"{policy['name']}_{arch}"
            policies.append((policy["priority"], name, {k: set(v) for k, v in versions.items()}))
    # Older policies have the higher priority.
    return [(name, allowed) for _, name, allowed in sorted(policies, key=lambda p: -p[0])]


def imported_versions(library: Path) -> list[tuple[str, str, str]]:
    """(family, version, symbol) for each versioned symbol the library imports."""
    out = subprocess.run([os.environ.get("OBJDUMP", "objdump"), "-T", str(library)], capture_output=True, text=True, check=True).stdout
    found = []
    for line in out.splitlines():
        if match := UNDEFINED.search(line.strip()):
            found.append(match.groups())
    return found


def offending(needs: list[tuple[str, str, str]], allowed: dict[str, set[str]]) -> list[tuple[str, str, str]]:
    return [need for need in needs if need[0] in allowed and need[1] not in allowed[need[0]]]


def check_symbols(wheels: list[str], plat: str) -> int:
    arch = plat.split("_", 3)[-1]
    policies = manylinux_policies(arch)
    names = [name for name, _ in policies]
    if plat not in names:
        print(f"error: unknown policy {plat}; known: {', '.join(names)}")
        return 2
    failed = False
    for wheel in wheels:
        with tempfile.TemporaryDirectory() as tmp, zipfile.ZipFile(wheel) as archive:
            modules = [n for n in archive.namelist() if n.endswith(".so") or ".so." in n]
            if not modules:
                print(f"error: {wheel} holds no extension module")
                return 1
            for member in modules:
                library = Path(archive.extract(member, tmp))
                needs = imported_versions(library)
                met = [i for i, (_, allowed) in enumerate(policies) if not offending(needs, allowed)]
                oldest = min(met) if met else None
                label = f"{Path(wheel).name}: {member}"
                if oldest is None:
                    print(f"{label}: meets no manylinux policy")
                else:
                    print(f"{label}: oldest policy met {policies[oldest][0]}")
                    if oldest > 0:
                        older, allowed = policies[oldest - 1]
                        blockers = ", ".join(f"{s}@{f}_{v}" for f, v, s in offending(needs, allowed))
                        print(f"  in the way of {older}: {blockers}")
                target = dict(policies)[plat]
                bad = offending(needs, target)
                for family, version, symbol in sorted(bad, key=lambda n: (n[0], version_key(n[1]))):
                    newest = max(target[family], key=version_key)
                    print(f"  FAIL: {symbol}@{family}_{version} is newer than {plat} allows ({family} up to {newest})")
                failed = failed or bool(bad)
    return 1 if failed else 0


def wheel_contents(path: str) -> dict[str, bytes]:
    with zipfile.ZipFile(path) as archive:
        return {name: archive.read(name) for name in archive.namelist()}


def check_same(first: str, second: str) -> int:
    a, b = wheel_contents(first), wheel_contents(second)
    differ = sorted(name for name in a.keys() & b.keys() if a[name] != b[name])
    only = sorted(a.keys() ^ b.keys())
    for name in differ:
        print(f"  differs: {name}")
    for name in only:
        print(f"  only in {'the first' if name in a else 'the second'}: {name}")
    if differ or only:
        print(f"FAIL: {Path(first).name} and {Path(second).name} differ in content")
        return 1
    print(f"same content: {len(a)} files")
    return 0


# Path parts that have no place in an sdist.
UNWANTED = ["build", "dist", ".git", "__pycache__", ".pytest_cache", ".mypy_cache", "venv*", ".venv*",
            "*.egg-info", "*.so", "*.o", "*.a", "*.whl", "*.pyc", ".ci"]


def check_sdist(path: str) -> int:
    with tarfile.open(path) as archive:
        members = [m.name for m in archive.getmembers() if m.isfile()]
    bad = [name for name in members
           if any(fnmatch.fnmatch(part, pattern) for part in PurePosixPath(name).parts[1:] for pattern in UNWANTED)]
    for name in bad:
        print(f"  unwanted: {name}")
    if bad:
        print(f"FAIL: {Path(path).name} holds files the build does not need")
        return 1
    print(f"{Path(path).name}: {len(members)} files, none unwanted")
    return 0


# e_machine of the ELF header, by the names platform.machine() gives.
ELF_MACHINES = {"x86_64": 62, "aarch64": 183}


def check_machine(wheel: str, machine: str, suffix: str) -> int:
    failed = []
    name = Path(wheel).name
    platform_tag = name[: -len(".whl")].split("-")[-1]
    if not platform_tag.endswith("_" + machine):
        failed.append(f"platform tag {platform_tag} is not for {machine}")
    with zipfile.ZipFile(wheel) as archive:
        modules = [n for n in archive.namelist() if n.endswith(".so") or ".so." in n]
        if not modules:
            failed.append("no extension module")
        for member in modules:
            header = archive.read(member)[:20]
            found = int.from_bytes(header[18:20], "little") if header[:4] == b"\x7fELF" else None
            print(f"{name}: {member}: ELF machine {found}")
            if found != ELF_MACHINES[machine]:
                failed.append(f"{member} is not an ELF for {machine}")
            if member.startswith("kestrand") and not member.endswith(suffix):
                failed.append(f"{member} does not end with {suffix}")
    for problem in failed:
        print(f"  FAIL: {name}: {problem}")
    return 1 if failed else 0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    symbols = commands.add_parser("symbols")
    symbols.add_argument("--plat", required=True)
    symbols.add_argument("wheels", nargs="+")
    same = commands.add_parser("same")
    same.add_argument("first")
    same.add_argument("second")
    sdist = commands.add_parser("sdist")
    sdist.add_argument("path")
    machine = commands.add_parser("machine")
    machine.add_argument("--machine", required=True, choices=sorted(ELF_MACHINES))
    machine.add_argument("--suffix", required=True)
    machine.add_argument("wheel")
    args = parser.parse_args()
    if args.command == "machine":
        return check_machine(args.wheel, args.machine, args.suffix)
    if args.command == "symbols":
        return check_symbols(args.wheels, args.plat)
    if args.command == "same":
        return check_same(args.first, args.second)
    return check_sdist(args.path)


if __name__ == "__main__":
    sys.exit(main())
