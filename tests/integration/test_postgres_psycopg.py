"""psycopg 3 against a real server: parameters, COPY and loaders."""

import uuid

import kestrand
import psycopg
import pytest
from psycopg.types.uuid import UUIDBinaryDumper

import recipes

pg = recipes.run("psycopg", "psycopg-copy")


@pytest.fixture
def conn(postgres):
    with pg.connect(postgres.conninfo()) as conn:
        yield conn


def read_ids(conn, table):
    return [row[0] for row in conn.execute(f"SELECT id FROM {table} ORDER BY id")]


def test_binary_copy_of_100000_uuid7_reads_back_in_sorted_order(conn, pg_table):
    keys = kestrand.uuid7_bulk(100_000)
    shuffled = keys[1::2] + keys[0::2]  # the server, not the insertion order, must sort
    pg.copy_keys(conn, pg_table, shuffled, binary=True)
    back = read_ids(conn, pg_table)
    assert back == sorted(shuffled) == keys
    assert all(type(u) is kestrand.UUID for u in back)


def test_text_and_binary_paths_agree(conn, pg_table):
    # Values that show byte order and signedness mistakes: high bit set in
    # the first byte, a large low half under a small high half, the extremes.
    keys = [
        kestrand.UUID(int=0),
        kestrand.UUID(int=1),
        kestrand.UUID(int=2**64),
        kestrand.UUID(int=2**64 - 1),
        kestrand.UUID(bytes=b"\x7f" + b"\xff" * 15),
        kestrand.UUID(bytes=b"\x80" + b"\x00" * 15),
        kestrand.UUID(int=2**128 - 1),
        kestrand.uuid4(),
    ]
    pg.copy_keys(conn, pg_table, keys[:2], binary=False)
    pg.copy_keys(conn, pg_table, keys[2:4], binary=True)
    for key, placeholder in zip(keys[4:], ["%s", "%t", "%b", "%s"]):
        conn.execute(f"INSERT INTO {pg_table} (id) VALUES ({placeholder})", (key,))
    conn.execute(f"INSERT INTO {pg_table} (id) VALUES (NULL)")

    expected = sorted(keys) + [None]  # NULLs sort last
    assert read_ids(conn, pg_table) == expected
    with conn.cursor(binary=True) as cur:
        assert [r[0] for r in cur.execute(f"SELECT id FROM {pg_table} ORDER BY id")] == expected
    # The server's own text matches str(), so both sides see one value.
    texts = [r[0] for r in conn.execute(f"SELECT id::text FROM {pg_table} WHERE id IS NOT NULL ORDER BY id")]
    assert texts == [str(k) for k in sorted(keys)]
    # The server compares what it was sent, in both forms.
    for fmt in ("%t", "%b"):
        (count,) = conn.execute(f"SELECT count(*) FROM {pg_table} WHERE id = {fmt}", (keys[5],)).fetchone()
        assert count == 1


def test_null_stays_none(conn):
    assert conn.execute("SELECT NULL::uuid, %s::uuid", (None,)).fetchone() == (None, None)


def test_standard_library_uuids_still_work_beside_kestrand(conn):
    std = uuid.uuid4()
    (back,) = conn.execute("SELECT %s::uuid", (std,)).fetchone()
    assert back == kestrand.UUID(bytes=std.bytes)


def test_loaders_stay_on_the_connection_they_were_registered_on(postgres):
    key = kestrand.uuid7()
    with psycopg.connect(postgres.conninfo()) as plain:
        with pytest.raises(psycopg.ProgrammingError, match="cannot adapt type 'UUID'"):
            plain.execute("SELECT %s::uuid", (key,))
        (back,) = plain.execute("SELECT %s::uuid", (str(key),)).fetchone()
        assert type(back) is uuid.UUID


def test_dumpers_registered_by_the_class_name_find_the_class(postgres):
    key = kestrand.uuid7()
    with psycopg.connect(postgres.conninfo()) as conn:
        conn.adapters.register_dumper("kestrand.UUID", UUIDBinaryDumper)
        (text,) = conn.execute("SELECT %s::uuid::text", (key,)).fetchone()
    assert text == str(key)


def test_malformed_text_from_the_server_raises_the_constructor_error(conn):
    with pytest.raises(ValueError, match="^badly formed hexadecimal UUID string$"):
        with conn.cursor() as cur, cur.copy("COPY (SELECT 'not-a-uuid') TO STDOUT") as copy:
            copy.set_types(["uuid"])
            list(copy.rows())


def test_binary_loader_rejects_a_wrong_length_with_the_constructor_error(conn):
    loader = pg.KestrandUUIDBinaryLoader(0, conn)
    assert loader.load(memoryview(bytes(range(16)))) == kestrand.UUID(bytes=bytes(range(16)))
    with pytest.raises(ValueError, match="^bytes is not a 16-char string$"):
        loader.load(b"\x00" * 15)
