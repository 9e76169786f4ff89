"""json, orjson and msgspec write the hyphenated text, and read it back."""

import json
import uuid

import kestrand
import msgspec
import orjson
import pytest

import recipes

js = recipes.run("json")
oj = recipes.run("orjson")
ms = recipes.run("msgspec")

KEYS = [kestrand.UUID(int=0), kestrand.UUID(int=2**128 - 1), kestrand.uuid7()]


def test_all_three_write_what_the_standard_librarys_uuid_gives():
    data = {"ids": KEYS, "one": KEYS[2]}
    expected = {"ids": [str(uuid.UUID(bytes=k.bytes)) for k in KEYS], "one": str(uuid.UUID(bytes=KEYS[2].bytes))}
    assert json.loads(json.dumps(data, default=js.uuid_default)) == expected
    assert orjson.loads(orjson.dumps(data, default=oj.orjson_default)) == expected
    assert msgspec.json.decode(ms.encoder.encode(data)) == expected


def test_without_the_hooks_each_library_refuses_the_type():
    with pytest.raises(TypeError):
        json.dumps(KEYS[0])
    with pytest.raises(orjson.JSONEncodeError):
        orjson.dumps(KEYS[0])
    with pytest.raises(TypeError):
        msgspec.json.encode(KEYS[0])


def test_hooks_still_refuse_other_unknown_types():
    with pytest.raises(TypeError, match="not JSON serializable"):
        json.dumps(object(), default=js.uuid_default)
    with pytest.raises(orjson.JSONEncodeError):
        orjson.dumps(object(), default=oj.orjson_default)
    with pytest.raises(NotImplementedError):
        ms.encoder.encode(object())


def test_reading_back():
    doc = json.dumps({"id": KEYS[2], "parent": None, "name": "x"}, default=js.uuid_default)
    back = json.loads(doc, object_hook=js.uuid_keys("id", "parent"))
    assert back == {"id": KEYS[2], "parent": None, "name": "x"} and type(back["id"]) is kestrand.UUID

    event = ms.Event(id=KEYS[2], name="x")
    decoded = ms.decoder.decode(ms.encoder.encode(event))
    assert decoded == event and type(decoded.id) is kestrand.UUID


def test_msgspec_reports_bad_text_at_its_path():
    with pytest.raises(msgspec.ValidationError, match=r"badly formed hexadecimal UUID string - at `\$.id`"):
        ms.decoder.decode(b'{"id": "zz", "name": "x"}')
