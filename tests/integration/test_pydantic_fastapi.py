"""The pydantic type and what it gives a FastAPI application."""

import uuid

import kestrand
import pytest
from fastapi.testclient import TestClient
from pydantic import BaseModel, TypeAdapter, ValidationError

import recipes

pd = recipes.run("pydantic")
api = recipes.run("pydantic", "fastapi")

KEY = kestrand.UUID("6ba7b810-9dad-11d1-80b4-00c04fd430c8")


class Record(BaseModel):
    id: pd.KUUID
    parent: pd.KUUID | None = None


@pytest.mark.parametrize(
    "given",
    [KEY, uuid.UUID(str(KEY)), str(KEY), str(KEY).upper(), KEY.hex, "{" + str(KEY) + "}", KEY.urn],
    ids=["kestrand", "stdlib", "text", "upper", "hex", "braces", "urn"],
)
def test_validator_accepts_the_three_kinds_of_input(given):
    record = Record(id=given)
    assert type(record.id) is kestrand.UUID and record.id == KEY


@pytest.mark.parametrize("given", ["6ba7b810-9dad-11d1-80b4-00c04fd430c", " " + str(KEY), 12345, KEY.bytes])
def test_bad_input_is_a_validation_error(given):
    with pytest.raises(ValidationError) as caught:
        Record(id=given)
    (error,) = caught.value.errors()
    assert error["type"] == "value_error" and error["loc"] == ("id",)
    if isinstance(given, str):
        assert error["msg"] == "Value error, badly formed hexadecimal UUID string"


def test_model_round_trips_through_json():
    record = Record(id=kestrand.uuid7(), parent=KEY)
    text = record.model_dump_json()
    assert text == f'{{"id":"{record.id}","parent":"{KEY}"}}'
    assert Record.model_validate_json(text) == record
    # Python mode keeps the objects; JSON mode gives the text.
    assert record.model_dump() == {"id": record.id, "parent": KEY}
    assert record.model_dump(mode="json") == {"id": str(record.id), "parent": str(KEY)}
    assert Record.model_validate_json('{"id": "%s", "parent": null}' % KEY).parent is None


def test_json_schema_is_a_uuid_string_like_the_standard_librarys():
    ours = TypeAdapter(pd.KUUID).json_schema()
    assert ours == {"type": "string", "format": "uuid"}
    assert ours == TypeAdapter(uuid.UUID).json_schema()


def test_fastapi_parameters_bodies_responses_and_schema():
    client = TestClient(api.app)
    customer = kestrand.uuid4()

    created = client.post("/orders", json={"customer": str(customer)})
    assert created.status_code == 200
    body = created.json()
    assert body["customer"] == str(customer)
    assert kestrand.UUID(body["id"]).version == 7

    read = client.get(f"/orders/{KEY}")
    assert read.status_code == 200 and read.json()["id"] == str(KEY)

    bad = client.get("/orders/not-a-uuid")
    assert bad.status_code == 422
    assert bad.json()["detail"][0]["msg"] == "Value error, badly formed hexadecimal UUID string"

    schema = client.get("/openapi.json").json()
    param = schema["paths"]["/orders/{order_id}"]["get"]["parameters"][0]
    assert param["schema"]["format"] == "uuid" and param["schema"]["type"] == "string"
    assert schema["components"]["schemas"]["Order"]["properties"]["customer"]["format"] == "uuid"
