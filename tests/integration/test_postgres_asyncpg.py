"""asyncpg against a real server, through a pool whose init hook sets the codec."""

import asyncio
import uuid

import asyncpg
import kestrand
import pytest

import recipes

apg = recipes.run("asyncpg")


def run_with_pool(postgres, body):
    async def main():
        pool = await apg.create_pool(postgres.url(), min_size=1, max_size=2)
        try:
            async with pool.acquire() as conn:
                return await body(conn)
        finally:
            await pool.close()

    return asyncio.run(main())


def test_binary_copy_of_100000_uuid7_reads_back_in_sorted_order(postgres, pg_table):
    keys = kestrand.uuid7_bulk(100_000)
    shuffled = keys[1::2] + keys[0::2]

    async def body(conn):
        await conn.copy_records_to_table(pg_table, records=[(k,) for k in shuffled], columns=["id"])
        return [r["id"] for r in await conn.fetch(f"SELECT id FROM {pg_table} ORDER BY id")]

    back = run_with_pool(postgres, body)
    assert back == sorted(shuffled) == keys
    assert all(type(u) is kestrand.UUID for u in back)


def test_parameters_of_every_kind_and_null(postgres):
    key = kestrand.uuid4()

    async def body(conn):
        return await conn.fetchrow(
            "SELECT $1::uuid AS k, $2::uuid AS s, $3::uuid AS t, $4::uuid AS n, $1::uuid::text AS text",
            key, uuid.UUID(bytes=key.bytes), str(key), None,
        )

    row = run_with_pool(postgres, body)
    assert (row["k"], row["s"], row["t"], row["n"]) == (key, key, key, None)
    assert row["text"] == str(key)


def test_sending_works_without_the_codec(postgres):
    # asyncpg's own encoder takes anything with .bytes; only reading back
    # needs the codec.
    key = kestrand.uuid7()

    async def main():
        conn = await asyncpg.connect(postgres.url())
        try:
            return await conn.fetchval("SELECT $1::uuid", key)
        finally:
            await conn.close()

    back = asyncio.run(main())
    assert type(back) is not kestrand.UUID
    assert back.bytes == key.bytes


def test_malformed_text_parameter_keeps_the_constructor_error(postgres):
    async def body(conn):
        return await conn.fetchval("SELECT $1::uuid", "6ba7b810-9dad-11d1-80b4-00c04fd430c")

    # asyncpg wraps an encoder's error in its DataError, naming the argument.
    with pytest.raises(asyncpg.DataError, match=r"argument \$1: .* \(badly formed hexadecimal UUID string\)$") as caught:
        run_with_pool(postgres, body)
    original = caught.value.__cause__
    assert type(original) is ValueError
    assert str(original) == "badly formed hexadecimal UUID string"
