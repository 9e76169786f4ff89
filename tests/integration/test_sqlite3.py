"""The sqlite3 adapter and converter."""

import kestrand
import pytest

import recipes

lite = recipes.run("sqlite3")


@pytest.fixture
def db():
    conn = lite.connect(":memory:")
    conn.execute("CREATE TABLE t (id uuid)")
    yield conn
    conn.close()


def test_keys_round_trip_as_16_byte_blobs_in_python_order(db):
    keys = kestrand.uuid7_bulk(1000) + [kestrand.UUID(int=0), kestrand.UUID(int=2**128 - 1),
                                        kestrand.UUID(bytes=b"\x80" + bytes(15)), kestrand.UUID(int=2**64)]
    db.executemany("INSERT INTO t VALUES (?)", [(k,) for k in reversed(keys)])
    db.execute("INSERT INTO t VALUES (NULL)")
    back = [r[0] for r in db.execute("SELECT id FROM t ORDER BY id")]
    assert back == [None] + sorted(keys)  # SQLite sorts NULL first
    assert all(type(u) is kestrand.UUID for u in back[1:])
    assert db.execute("SELECT typeof(id), length(id) FROM t WHERE id IS NOT NULL LIMIT 1").fetchone() == ("blob", 16)
    assert db.execute("SELECT count(*) FROM t WHERE id = ?", (keys[3],)).fetchone() == (1,)


@pytest.mark.parametrize("stored", ["6ba7b810-9dad-11d1-80b4-00c04fd430c8", b"\x00" * 15])
def test_a_value_that_is_not_16_bytes_raises_the_constructor_error(db, stored):
    db.execute("INSERT INTO t VALUES (?)", (stored,))
    with pytest.raises(ValueError, match="^bytes is not a 16-char string$"):
        db.execute("SELECT id FROM t").fetchall()
