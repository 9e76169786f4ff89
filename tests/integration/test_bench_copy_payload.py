"""The benchmark's end-to-end row builds binary COPY data by hand; the server
must accept it and store exactly the keys it was built from."""

import sys
from pathlib import Path

import kestrand
import psycopg

BENCH = Path(__file__).resolve().parents[2] / "bench"


def load_bench():
    sys.path.insert(0, str(BENCH))
    try:
        from kestrand_bench import database
    finally:
        sys.path.remove(str(BENCH))
    return database


def test_server_reads_back_the_keys_of_the_hand_built_payload(postgres, pg_table):
    bench = load_bench()
    keys = kestrand.uuid7_bulk(1000) + [kestrand.UUID(int=0), kestrand.UUID(int=2**128 - 1)]
    with psycopg.connect(postgres.conninfo()) as conn:
        with conn.cursor() as cur, cur.copy(f"COPY {pg_table} (id) FROM STDIN (FORMAT BINARY)") as copy:
            copy.write(bench.copy_payload(keys))
        texts = [r[0] for r in conn.execute(f"SELECT id::text FROM {pg_table} ORDER BY id")]
    assert texts == [str(k) for k in sorted(keys)]
