"""End to end for a database user, and the conversions to and from uuid.UUID."""

from __future__ import annotations

import os
import uuid
from collections.abc import Callable
from typing import Any

from .contenders import SAMPLE_HEX, kestrand, kfunc, uuid6, uuid_utils
from .harness import Settings, measure
from .report import Table, fmt_time


# New version 7 keys as PostgreSQL's binary
# COPY stream (the format psycopg sends for `COPY ... FROM STDIN (FORMAT
# BINARY)` with the column typed uuid): an 11-byte signature, flags and
# header-extension length (int32 each), then per row a field count (int16 1)
# and the field's length (int32 16) before its 16 bytes, and -1 (int16) at the
# end. Built with the standard library alone; with psycopg installed and
# KESTRAND_BENCH_PG set to a conninfo, a second row also sends it to a server.

COPY_HEADER = b"PGCOPY\n\xff\r\n\x00" + (0).to_bytes(4, "big") + (0).to_bytes(4, "big")
COPY_ROW_PREFIX = (1).to_bytes(2, "big") + (16).to_bytes(4, "big")
COPY_TRAILER = (-1).to_bytes(2, "big", signed=True)


def copy_payload(keys: list[Any]) -> bytes:
    """The binary COPY stream of one uuid column holding `keys`."""
    prefix = COPY_ROW_PREFIX
    return b"".join([COPY_HEADER, *[prefix + k.bytes for k in keys], COPY_TRAILER])


def uuid7_makers(n: int) -> dict[str, Callable[[], list[Any]] | None]:
    """n version 7 keys, each library in its own fastest way."""
    k_bulk = kfunc("uuid7_bulk")
    std7 = getattr(uuid, "uuid7", None)
    makers: dict[str, Callable[[], list[Any]] | None] = {
        "kestrand": (lambda: k_bulk(n)) if k_bulk else None,
        "uuid_utils": (lambda: [uuid_utils.uuid7() for _ in range(n)]) if uuid_utils else None,
        "uuid6": (lambda: [uuid6.uuid7() for _ in range(n)]) if uuid6 else None,
    }
    if std7 is not None:
        makers["stdlib"] = lambda: [std7() for _ in range(n)]
    return makers


def database_report(settings: Settings) -> str:
    n = settings.big_n
    rounds = Settings(settings.quick)
    rounds.target_seconds = max(settings.target_seconds, 0.2)  # one run is already ~10 ms
    table = Table(f"End to end: {n:,} version 7 keys as PostgreSQL binary COPY data (per key)")
    makers = uuid7_makers(n)
    stmt = "payload(make())"
    entries = {name: ((stmt, {"make": m, "payload": copy_payload}) if m else None) for name, m in makers.items()}
    table.add("make keys + build COPY payload", measure(entries, rounds, per=n))
    server = copy_into_server(makers, n, rounds)
    if server is not None:
        table.add("... + COPY into a local server", server)
    lines = [table.render()]
    if server is None:
        lines.append("  (COPY into a server: n/a; install psycopg and set KESTRAND_BENCH_PG to a conninfo)")
    lines.append(conversion_report(settings))
    return "\n".join(lines)


def copy_into_server(
    makers: dict[str, Callable[[], list[Any]] | None], n: int, settings: Settings
) -> dict[str, float | None] | None:
    conninfo = os.environ.get("KESTRAND_BENCH_PG")
    if not conninfo:
        return None
    try:
        import psycopg
    except ImportError:
        return None
    conn = psycopg.connect(conninfo, autocommit=True)
    conn.execute("CREATE TEMP TABLE kestrand_bench_keys (id uuid)")

    def send(make: Callable[[], list[Any]]) -> None:
        with conn.cursor() as cur:
            with cur.copy("COPY kestrand_bench_keys (id) FROM STDIN (FORMAT BINARY)") as copy:
                copy.write(copy_payload(make()))
            cur.execute("TRUNCATE kestrand_bench_keys")

    try:
        entries = {name: (("send(make)", {"send": send, "make": m}) if m else None) for name, m in makers.items()}
        return measure(entries, settings, per=n)
    finally:
        conn.close()


def conversion_report(settings: Settings) -> str:
    """The two ways to a uuid.UUID, and back, timed side by side."""
    k = kestrand.UUID(SAMPLE_HEX) if kestrand is not None else None
    s = uuid.UUID(SAMPLE_HEX)
    K = kfunc("UUID")
    cases = {
        "uuid.UUID(int=u.int)": ("S(int=u.int)", {"S": uuid.UUID, "u": k}) if k is not None else None,
        "uuid.UUID(bytes=u.bytes)": ("S(bytes=u.bytes)", {"S": uuid.UUID, "u": k}) if k is not None else None,
        "kestrand.UUID(bytes=s.bytes)": ("K(bytes=s.bytes)", {"K": K, "s": s}) if K else None,
        "kestrand.UUID(int=s.int)": ("K(int=s.int)", {"K": K, "s": s}) if K else None,
    }
    r = measure(cases, settings)
    lines = ["\nConverting to and from uuid.UUID (per value):"]
    lines += [f"  {label:<30} {fmt_time(ns):>10}" for label, ns in r.items()]
    return "\n".join(lines)

