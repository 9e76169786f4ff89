"""Cases for the generators: single calls, the bulk functions against list
comprehensions, and the digests' throughput behind uuid3 and uuid5."""

from __future__ import annotations

import hashlib
import random
import uuid

from .contenders import SAMPLE_HEX, kestrand, kfunc, uuid6, uuid_utils
from .harness import Entry, Settings, measure
from .report import Table


def generator_cases(settings: Settings, table: Table) -> dict[str, float | None]:
    """Single-call generators; returns kestrand's ns/op by function name."""
    mine: dict[str, float | None] = {}
    k4, k7 = kfunc("uuid4"), kfunc("uuid7")
    call = "f()"
    v4 = {
        "kestrand": (call, {"f": k4}) if k4 else None,
        "stdlib": (call, {"f": uuid.uuid4}),
        "uuid_utils": (call, {"f": uuid_utils.uuid4}) if uuid_utils else None,
    }
    r = measure(v4, settings)
    table.add("uuid4()", r)
    mine["uuid4"] = r["kestrand"]

    std7 = getattr(uuid, "uuid7", None)  # only on newer Pythons
    v7: dict[str, Entry] = {
        "kestrand": (call, {"f": k7}) if k7 else None,
        "uuid_utils": (call, {"f": uuid_utils.uuid7}) if uuid_utils else None,
        "uuid6": (call, {"f": uuid6.uuid7}) if uuid6 else None,
    }
    if std7 is not None:
        v7["stdlib"] = (call, {"f": std7})
    r = measure(v7, settings)
    table.add("uuid7()", r)
    mine["uuid7"] = r["kestrand"]

    k1, k1mc = kfunc("uuid1"), kfunc("uuid_v1mc")
    v1: dict[str, Entry] = {
        "kestrand": (call, {"f": k1}) if k1 else None,
        "stdlib": (call, {"f": uuid.uuid1}),
        "uuid_utils": (call, {"f": uuid_utils.uuid1}) if uuid_utils else None,
    }
    r = measure(v1, settings)
    table.add("uuid1()", r)
    mine["uuid1"] = r["kestrand"]
    # A random multicast node instead of the host's; the standard library's
    # nearest equivalent is plain uuid1().
    v1mc: dict[str, Entry] = {
        "kestrand": (call, {"f": k1mc}) if k1mc else None,
        "stdlib": (call, {"f": uuid.uuid1}),
    }
    r = measure(v1mc, settings)
    table.add("uuid_v1mc() (stdlib: uuid1())", r)
    mine["uuid_v1mc"] = r["kestrand"]

    name_call = "f(ns, name)"
    kns = kestrand.UUID(SAMPLE_HEX) if kestrand is not None else None
    for version in (3, 5):
        fname = f"uuid{version}"
        kf = kfunc(fname)
        entries: dict[str, Entry] = {
            "kestrand": (name_call, {"f": kf, "ns": kns, "name": b"python.org"}) if kf else None,
            "stdlib": (name_call, {"f": getattr(uuid, fname), "ns": uuid.NAMESPACE_DNS, "name": "python.org"}),
            "uuid_utils": (
                name_call,
                {"f": getattr(uuid_utils, fname), "ns": uuid_utils.NAMESPACE_DNS, "name": "python.org"},
            )
            if uuid_utils
            else None,
        }
        r = measure(entries, settings)
        table.add(f'{fname}(ns, "python.org")', r)
        mine[fname] = r["kestrand"]
    return mine


def digest_report(settings: Settings) -> str:
    """Throughput of uuid3/uuid5 on a 1 MiB name against hashlib on the same
    bytes: the cost of the digests' block compression, per byte."""
    size = 1 << 20
    name = random.Random(1).randbytes(size)
    ns_bytes = uuid.UUID(SAMPLE_HEX).bytes
    lines = [f"\nDigest throughput on a {size >> 20} MiB name (MB/s; ratio = kestrand / hashlib):"]
    for fname, algorithm in (("uuid3", "md5"), ("uuid5", "sha1")):
        kf = kfunc(fname)
        h = getattr(hashlib, algorithm)
        entries: dict[str, Entry] = {
            "kestrand": ("f(ns, name)", {"f": kf, "ns": kestrand.UUID(bytes=ns_bytes), "name": name}) if kf else None,
            "stdlib": ("h(name).digest()", {"h": h, "name": name}),
        }
        r = measure(entries, settings)
        mine, theirs = r["kestrand"], r["stdlib"]
        rate = lambda ns: f"{size / ns * 1e3:8.0f}" if ns else "     n/a"  # noqa: E731
        ratio = f"{theirs / mine:.2f}x" if mine and theirs else "n/a"
        lines.append(f"  {fname} / hashlib.{algorithm:<5} {rate(mine)} vs {rate(theirs)}  {ratio}")
    return "\n".join(lines)


def bulk_cases(settings: Settings, table: Table) -> dict[str, float | None]:
    """Bulk functions against list comprehensions; ns per item."""
    mine: dict[str, float | None] = {}
    std7 = getattr(uuid, "uuid7", None)
    for n in (100, settings.big_n):
        comp = "[f() for _ in range(n)]"
        comp_hex = "[f().hex for _ in range(n)]"
        k_single4 = kfunc("uuid4")
        groups: list[tuple[str, str, dict[str, Entry]]] = [
            (
                "uuid4_bulk",
                f"uuid4_bulk({n:,})",
                {
                    "kestrand": ("g(n)", {"g": kfunc("uuid4_bulk"), "n": n}) if kfunc("uuid4_bulk") else None,
                    "stdlib": (comp, {"f": uuid.uuid4, "n": n}),
                    "uuid_utils": (comp, {"f": uuid_utils.uuid4, "n": n}) if uuid_utils else None,
                },
            ),
            (
                "uuid4_as_strings_bulk",
                f"uuid4_as_strings_bulk({n:,})",
                {
                    "kestrand": ("g(n)", {"g": kfunc("uuid4_as_strings_bulk"), "n": n})
                    if kfunc("uuid4_as_strings_bulk")
                    else None,
                    "stdlib": (comp_hex, {"f": uuid.uuid4, "n": n}),
                    "uuid_utils": (comp_hex, {"f": uuid_utils.uuid4, "n": n}) if uuid_utils else None,
                },
            ),
            (
                "uuid7_bulk",
                f"uuid7_bulk({n:,})",
                {
                    "kestrand": ("g(n)", {"g": kfunc("uuid7_bulk"), "n": n}) if kfunc("uuid7_bulk") else None,
                    **({"stdlib": (comp, {"f": std7, "n": n})} if std7 else {}),
                    "uuid_utils": (comp, {"f": uuid_utils.uuid7, "n": n}) if uuid_utils else None,
                    "uuid6": (comp, {"f": uuid6.uuid7, "n": n}) if uuid6 else None,
                },
            ),
            (
                "uuid7_as_strings_bulk",
                f"uuid7_as_strings_bulk({n:,})",
                {
                    "kestrand": ("g(n)", {"g": kfunc("uuid7_as_strings_bulk"), "n": n})
                    if kfunc("uuid7_as_strings_bulk")
                    else None,
                    **({"stdlib": (comp_hex, {"f": std7, "n": n})} if std7 else {}),
                    "uuid_utils": (comp_hex, {"f": uuid_utils.uuid7, "n": n}) if uuid_utils else None,
                    "uuid6": (comp_hex, {"f": uuid6.uuid7, "n": n}) if uuid6 else None,
                },
            ),
        ]
        for name, label, entries in groups:
            r = measure(entries, settings, per=n)
            table.add(f"{label} per item", r)
            mine[f"{name}({n})"] = r["kestrand"]
        if k_single4 is not None:
            loop = measure({"kestrand": (comp, {"f": k_single4, "n": n})}, settings, per=n)
            table.add(f"[uuid4() for {n:,}] per item", loop)
    return mine

