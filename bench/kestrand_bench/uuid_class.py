"""Cases for the UUID class: conversions, hashing, comparison, construction,
sorting, pickling, and the memory each live object takes."""

from __future__ import annotations

import gc
import os
import pickle
import random
import sys
import tracemalloc
import uuid
from collections.abc import Callable
from typing import Any

from .contenders import SAMPLE_HEX, kfunc, uuid_utils
from .harness import Entry, Settings, measure
from .report import Table, fmt_ratio


def class_cases(settings: Settings, table: Table) -> None:
    K = kfunc("UUID")
    S = uuid.UUID
    U = uuid_utils.UUID if uuid_utils is not None else None

    def one(cls: Any) -> Any:
        if cls is None:
            return None
        try:
            return cls(SAMPLE_HEX)
        except Exception:
            return None

    # A pair of distinct but equal objects per implementation, for `==`.
    objs = {"kestrand": (one(K), one(K)), "stdlib": (one(S), one(S)), "uuid_utils": (one(U), one(U))}

    def entries(stmt: str) -> dict[str, Entry]:
        out: dict[str, Entry] = {}
        for name, (u, v) in objs.items():
            out[name] = (stmt, {"u": u, "v": v}) if u is not None else None
        return out

    table.add("str(u)", measure(entries("str(u)"), settings))
    table.add("repr(u)", measure(entries("repr(u)"), settings))
    table.add("hash(u)", measure(entries("hash(u)"), settings))
    table.add("u.hex", measure(entries("u.hex"), settings))
    table.add("u.bytes", measure(entries("u.bytes"), settings))
    table.add("u.int", measure(entries("u.int"), settings))
    table.add("u == v (equal values)", measure(entries("u == v"), settings))
    ctor = {
        name: (("C(h)", {"C": cls, "h": SAMPLE_HEX}) if cls is not None else None)
        for name, cls in (("kestrand", K), ("stdlib", S), ("uuid_utils", U))
    }
    table.add("UUID(hex, 36 chars)", measure(ctor, settings))

    n = settings.big_n
    samples = {name: sample_objects(name, n) for name in ("kestrand", "stdlib", "uuid_utils")}
    sort_entries = {name: (("sorted(xs)", {"xs": xs}) if xs else None) for name, xs in samples.items()}
    table.add(f"sorted() of {n:,}", measure(sort_entries, settings))
    # Hashing as dictionaries and sets use it: the hash never becomes an int.
    set_entries = {name: (("set(xs)", {"xs": xs}) if xs else None) for name, xs in samples.items()}
    table.add(f"set() of {n:,}", measure(set_entries, settings))
    pn = settings.pickle_n
    pickle_entries = {
        name: (("loads(dumps(xs))", {"xs": xs[:pn], "loads": pickle.loads, "dumps": pickle.dumps}) if xs else None)
        for name, xs in samples.items()
    }
    table.add(f"pickle round trip of {pn:,}", measure(pickle_entries, settings))


def sample_objects(name: str, n: int) -> list[Any] | None:
    """n random UUIDs of one implementation, built from the same random bytes."""
    rng = random.Random(4)
    blobs = [rng.randbytes(16) for _ in range(n)]
    try:
        if name == "kestrand":
            K = kfunc("UUID")
            if K is not None:
                try:
                    return [K(bytes=b) for b in blobs]
                except Exception:
                    pass
            bulk = kfunc("uuid4_bulk")
            return bulk(n) if bulk is not None else None
        if name == "stdlib":
            return [uuid.UUID(bytes=b) for b in blobs]
        if name == "uuid_utils" and uuid_utils is not None:
            return [uuid_utils.UUID(bytes=b) for b in blobs]
    except Exception:
        return None
    return None


def memory_per_object(n: int) -> dict[str, float | None]:
    """Bytes per live object, traced while n objects of each kind are alive."""
    makers: dict[str, Callable[[list[bytes]], list[Any]] | None] = {"kestrand": None, "stdlib": None}
    K = kfunc("UUID")
    if K is not None:
        makers["kestrand"] = lambda blobs: [K(bytes=b) for b in blobs]
    elif (bulk := kfunc("uuid4_bulk")) is not None:
        makers["kestrand"] = lambda blobs: bulk(len(blobs))
    makers["stdlib"] = lambda blobs: [uuid.UUID(bytes=b) for b in blobs]
    if uuid_utils is not None:
        makers["uuid_utils"] = lambda blobs: [uuid_utils.UUID(bytes=b) for b in blobs]
    blobs = [os.urandom(16) for _ in range(n)]
    out: dict[str, float | None] = {}
    for name, make in makers.items():
        if make is None:
            out[name] = None
            continue
        try:
            make(blobs[:10])
        except Exception:
            out[name] = None
            continue
        gc.collect()
        tracemalloc.start()
        before = tracemalloc.get_traced_memory()[0]
        objs = make(blobs)
        after = tracemalloc.get_traced_memory()[0]
        tracemalloc.stop()
        # The list itself is not part of the objects' cost.
        out[name] = (after - before - sys.getsizeof(objs)) / n
        del objs
    return out



def memory_report(n: int) -> str:
    mem = memory_per_object(n)
    lines = [f"\nMemory per live UUID object (tracemalloc, {n:,} objects):"]
    for name, size in mem.items():
        shown = f"{size:.1f} bytes" if size is not None else "n/a"
        extra = f"  ({fmt_ratio(size, mem.get('kestrand'))} of kestrand)" if name != "kestrand" else ""
        lines.append(f"  {name:<10} {shown:>14}{extra}")
    return "\n".join(lines)
