"""Converting to and from the standard library's UUID is exact."""

import uuid

import kestrand
import pytest

import recipes

cv = recipes.run("convert")

VALUES = [0, 1, 2**64 - 1, 2**64, 2**127, 2**128 - 1] + [int(kestrand.uuid4()) for _ in range(20)]


@pytest.mark.parametrize("n", VALUES)
def test_round_trip_keeps_every_bit(n):
    u = kestrand.UUID(int=n)
    std = cv.to_std(u)
    assert type(std) is uuid.UUID and std == uuid.UUID(int=n)
    assert (str(std), std.bytes, std.variant) == (str(u), u.bytes, u.variant)
    back = cv.from_std(std)
    assert type(back) is kestrand.UUID and back == u
