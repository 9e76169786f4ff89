"""The column recipes: keys into Arrow, Parquet, DuckDB, Polars and pandas and
back, with their values and the order they were made in kept."""

import uuid

import kestrand
import pytest

import recipes

pa = pytest.importorskip("pyarrow", reason="pyarrow has no wheel for this Python")
pq = pytest.importorskip("pyarrow.parquet")

arrow = recipes.run("arrow")

MILLION = 1_000_000


@pytest.fixture(scope="module")
def million():
    ids = arrow.new_uuid7_array(MILLION)
    return ids, arrow.keys_of(ids)


def test_new_keys_are_a_uuid_column_in_the_order_they_were_made(million):
    ids, keys = million
    assert ids.type == pa.uuid() and len(ids) == MILLION and ids.null_count == 0
    assert all(type(k) is kestrand.UUID for k in keys[:: MILLION // 100])
    assert all(k.version == 7 for k in keys[:: MILLION // 100])
    assert keys == sorted(keys) and len(set(keys)) == MILLION
    # The same bytes as the keys, and pyarrow reads them as the standard UUIDs.
    assert ids.storage.buffers()[1].to_pybytes() == b"".join(k.bytes for k in keys)
    assert ids[:5].to_pylist() == [uuid.UUID(int=k.int) for k in keys[:5]]


def test_keys_into_a_column_and_back():
    keys = [kestrand.uuid4(), kestrand.UUID(int=0), kestrand.UUID(int=2**128 - 1), *kestrand.uuid7_bulk(5)]
    ids = arrow.uuid_array(keys)
    assert ids.type == pa.uuid() and ids.to_pylist() == [uuid.UUID(int=k.int) for k in keys]
    assert arrow.keys_of(ids) == keys
    # Slices start inside the buffer; chunked and plain binary columns work alike.
    assert arrow.keys_of(ids[2:5]) == keys[2:5]
    assert arrow.keys_of(pa.chunked_array([ids[:3], ids[3:3], ids[3:]])) == keys
    assert arrow.keys_of(ids.storage) == keys
    assert arrow.keys_of(arrow.uuid_array([])) == []


def test_a_null_is_refused():
    with_null = pa.array([uuid.UUID(int=1), None], type=pa.uuid())
    with pytest.raises(ValueError, match="holds a null"):
        arrow.keys_of(with_null)


def test_parquet_keeps_the_type_values_and_order(million, tmp_path):
    ids, keys = million
    path = tmp_path / "keys.parquet"
    pq.write_table(pa.table({"id": ids}), path)
    assert "UUID" in str(pq.ParquetFile(path).schema.column(0).logical_type)
    back = pq.read_table(path)["id"]
    assert back.type == pa.uuid() and back.combine_chunks().equals(ids)
    assert arrow.keys_of(back) == keys


def test_duckdb_from_arrow_and_by_parameter(million):
    pytest.importorskip("duckdb", reason="duckdb has no wheel for this Python")
    db = recipes.run("convert", "arrow", "duckdb")
    ids, keys = million
    con = db.connect_duckdb()
    con.execute("CREATE TABLE keys (id UUID)")
    # Inserted in reverse, so that ORDER BY has to restore the order they were made in.
    db.insert_arrow(con, "keys", ids[::-1])
    back = db.read_ids(con, "keys")
    assert back.type == pa.uuid() and back.combine_chunks().equals(ids)
    assert db.keys_of(back) == keys
    assert con.execute("SELECT count(DISTINCT id) FROM keys").fetchone() == (MILLION,)

    bound = kestrand.uuid7_bulk(2000)
    con.execute("CREATE TABLE bound (id UUID)")
    db.insert_bound(con, "bound", bound[::-1])
    assert db.keys_of(db.read_ids(con, "bound")) == bound
    # DuckDB's own reading agrees with the text of every key.
    assert con.execute("SELECT id::VARCHAR FROM bound ORDER BY id LIMIT 3").fetchall() == [
        (str(k),) for k in bound[:3]
    ]


def test_polars_column_and_back(million):
    pl = pytest.importorskip("polars", reason="polars has no wheel for this Python")
    cols = recipes.run("arrow", "polars-pandas")
    ids, keys = million
    series = cols.to_polars(ids)
    assert series.dtype == pl.Binary and len(series) == MILLION
    assert series.is_sorted() and series[7] == keys[7].bytes
    assert series.sort(descending=True).reverse().equals(series)
    back = cols.from_polars(series)
    assert back.type == pa.uuid() and back.equals(ids)


def test_pandas_column_and_back(million):
    pd = pytest.importorskip("pandas", reason="pandas has no wheel for this Python")
    cols = recipes.run("arrow", "polars-pandas")
    ids, keys = million
    series = cols.to_pandas(ids)
    assert isinstance(series.dtype, pd.ArrowDtype) and series.dtype.pyarrow_dtype == pa.uuid()
    assert series.iloc[3] == uuid.UUID(int=keys[3].int)
    back = cols.from_pandas(series)
    assert back.type == pa.uuid() and back.equals(ids)
    assert cols.keys_of(cols.from_pandas(series.iloc[10:20])) == keys[10:20]
