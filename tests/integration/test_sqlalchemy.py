"""The TypeDecorator recipe through the ORM, on PostgreSQL (psycopg) and SQLite."""

import uuid

import kestrand
import pytest
from sqlalchemy import create_engine, insert, select, text
from sqlalchemy.exc import StatementError
from sqlalchemy.orm import Session

import recipes

sa = recipes.run("sqlalchemy")


@pytest.fixture(params=["postgresql", "sqlite"])
def engine(request, tmp_path):
    if request.param == "postgresql":
        url = request.getfixturevalue("postgres").url("postgresql+psycopg")
    else:
        url = f"sqlite:///{tmp_path / 'items.db'}"
    engine = create_engine(url)
    sa.Base.metadata.drop_all(engine)
    sa.Base.metadata.create_all(engine)
    yield engine
    engine.dispose()


def test_100000_uuid7_keys_read_back_in_sorted_order(engine):
    keys = kestrand.uuid7_bulk(100_000)
    shuffled = keys[1::2] + keys[0::2]
    with Session(engine) as session:
        session.execute(insert(sa.Item), [{"id": k, "name": ""} for k in shuffled])
        session.commit()
        back = session.scalars(select(sa.Item.id).order_by(sa.Item.id)).all()
    assert back == sorted(shuffled) == keys
    assert all(type(u) is kestrand.UUID for u in back)


def test_orm_round_trip_with_default_key_null_and_lookups(engine):
    parent = kestrand.uuid4()
    with Session(engine) as session:
        session.add_all([sa.Item(parent=parent, name="child"), sa.Item(parent=None, name="root")])
        session.commit()
    with Session(engine) as session:
        child = session.scalars(select(sa.Item).where(sa.Item.parent == parent)).one()
        root = session.scalars(select(sa.Item).where(sa.Item.parent.is_(None))).one()
        assert (type(child.id), child.id.version, child.parent) == (kestrand.UUID, 7, parent)
        assert root.parent is None
        # The same row by a kestrand UUID, a uuid.UUID and text.
        for key in (child.id, uuid.UUID(bytes=child.id.bytes), str(child.id)):
            assert session.get(sa.Item, key) is child
    # What the database holds is the standard form of the same value.
    stored = {
        "postgresql": "SELECT id::text FROM item WHERE name = 'child'",
        "sqlite": "SELECT id FROM item WHERE name = 'child'",
    }[engine.dialect.name]
    with engine.connect() as conn:
        assert conn.execute(text(stored)).scalar_one() in (str(child.id), child.id.hex)


def test_malformed_stored_text_raises_a_value_error(tmp_path):
    # SQLite has no uuid type: text written by another program reaches the
    # result processor, which must fail cleanly rather than return garbage.
    engine = create_engine(f"sqlite:///{tmp_path / 'bad.db'}")
    sa.Base.metadata.create_all(engine)
    with engine.begin() as conn:
        conn.execute(text("INSERT INTO item (id, name) VALUES ('not-a-uuid', 'bad')"))
    with Session(engine) as session, pytest.raises(ValueError, match="badly formed hexadecimal UUID string"):
        session.scalars(select(sa.Item.id)).all()


def test_a_value_of_the_wrong_type_is_refused_on_the_way_in(engine):
    with Session(engine) as session, pytest.raises(StatementError):
        session.execute(insert(sa.Item), [{"id": 12345, "name": "x"}])
