"""uuid3 and uuid5 against the standard library and hashlib.

Names of every length across the digests' 64-byte blocks and 56-byte padding
boundaries, a few long ones, random texts, and the argument checks with their
order and exact messages.
"""

from __future__ import annotations

import hashlib
import random
import uuid

import pytest

import kestrand
from uuid_cases import Derived

FUNCTIONS = [
    pytest.param(kestrand.uuid3, uuid.uuid3, hashlib.md5, 3, id="uuid3"),
    pytest.param(kestrand.uuid5, uuid.uuid5, hashlib.sha1, 5, id="uuid5"),
]
STD_NAMESPACES = [uuid.NAMESPACE_DNS, uuid.NAMESPACE_URL, uuid.NAMESPACE_OID, uuid.NAMESPACE_X500]


def ours(namespace: uuid.UUID) -> kestrand.UUID:
    return kestrand.UUID(bytes=namespace.bytes)


def expected(digest, version: int, namespace: bytes, name: bytes) -> bytes:
    value = bytearray(digest(namespace + name).digest()[:16])
    value[6] = version << 4 | value[6] & 0x0F
    value[8] = 0x80 | value[8] & 0x3F
    return bytes(value)


@pytest.mark.parametrize("make, std, digest, version", FUNCTIONS)
def test_every_name_length_across_block_boundaries(make, std, digest, version):
    namespace = ours(uuid.NAMESPACE_URL)
    data = bytes(random.Random(version).randrange(256) for _ in range(400))
    # Total digest inputs of 16 to 316 bytes: 55/56, 63/64, 119/120 and every
    # other split of prefix, whole blocks and tail.
    for length in range(301):
        name = data[:length]
        value = make(namespace, name)
        assert value.bytes == expected(digest, version, namespace.bytes, name), length


@pytest.mark.parametrize("make, std, digest, version", FUNCTIONS)
@pytest.mark.parametrize("length", [1000, 4096 + 7, 65536 + 33, 1 << 20])
def test_long_names(make, std, digest, version, length):
    name = random.Random(length).randbytes(length)
    namespace = ours(uuid.NAMESPACE_OID)
    assert make(namespace, name).bytes == expected(digest, version, namespace.bytes, name)


@pytest.mark.parametrize("make, std, digest, version", FUNCTIONS)
def test_agrees_with_the_standard_library_on_texts(make, std, digest, version):
    rng = random.Random(20261210)
    alphabet = "abcxyz.-_/:09 éüß中文🙂"
    for namespace in STD_NAMESPACES + [uuid.UUID(int=rng.getrandbits(128)) for _ in range(4)]:
        for _ in range(100):
            text = "".join(rng.choice(alphabet) for _ in range(rng.randrange(80)))
            value = make(ours(namespace), text.encode())
            reference = std(namespace, text)
            assert value.bytes == reference.bytes, (namespace, text)
            assert value.version == version and value.variant == uuid.RFC_4122


@pytest.mark.parametrize("make, std, digest, version", FUNCTIONS)
def test_known_values(make, std, digest, version):
    known = {
        3: "6fa459ea-ee8a-3ca4-894e-db77e160355e",
        5: "886313e1-3b8a-5372-9b90-0c9aee199e5d",
    }
    assert str(make(ours(uuid.NAMESPACE_DNS), b"python.org")) == known[version]


@pytest.mark.parametrize("make, std, digest, version", FUNCTIONS)
def test_empty_name_hashes_the_namespace_alone(make, std, digest, version):
    namespace = ours(uuid.NAMESPACE_X500)
    assert make(namespace, b"").bytes == expected(digest, version, namespace.bytes, b"")


@pytest.mark.parametrize("make, std, digest, version", FUNCTIONS)
def test_subclasses_are_accepted_and_the_result_is_a_plain_uuid(make, std, digest, version):
    class Name(bytes):
        pass

    namespace = Derived(bytes=uuid.NAMESPACE_DNS.bytes)
    value = make(namespace, Name(b"python.org"))
    assert type(value) is kestrand.UUID
    assert value.bytes == std(uuid.NAMESPACE_DNS, "python.org").bytes
    assert make(namespace=ours(uuid.NAMESPACE_DNS), name=b"x") == make(ours(uuid.NAMESPACE_DNS), b"x")


@pytest.mark.parametrize("make, std, digest, version", FUNCTIONS)
@pytest.mark.parametrize(
    "namespace, name, message",
    [
        (uuid.NAMESPACE_DNS, b"x", "argument 'namespace': 'UUID' object cannot be converted to 'UUID'"),
        (str(uuid.NAMESPACE_DNS), b"x", "argument 'namespace': 'str' object cannot be converted to 'UUID'"),
        (uuid.NAMESPACE_DNS.bytes, b"x", "argument 'namespace': 'bytes' object cannot be converted to 'UUID'"),
        (None, b"x", "argument 'namespace': 'NoneType' object cannot be converted to 'UUID'"),
        (ours(uuid.NAMESPACE_DNS), "x", "argument 'name': 'str' object cannot be converted to 'PyBytes'"),
        (ours(uuid.NAMESPACE_DNS), bytearray(b"x"), "argument 'name': 'bytearray' object cannot be converted to 'PyBytes'"),
        (ours(uuid.NAMESPACE_DNS), memoryview(b"x"), "argument 'name': 'memoryview' object cannot be converted to 'PyBytes'"),
        # The namespace is checked first.
        ("ns", "x", "argument 'namespace': 'str' object cannot be converted to 'UUID'"),
    ],
)
def test_argument_errors(make, std, digest, version, namespace, name, message):
    with pytest.raises(TypeError) as caught:
        make(namespace, name)
    assert type(caught.value) is TypeError
    assert caught.value.args == (message,)


@pytest.mark.parametrize("make, std, digest, version", FUNCTIONS)
def test_binding_messages(make, std, digest, version):
    name = make.__name__
    namespace = ours(uuid.NAMESPACE_DNS)
    cases = [
        (lambda: make(namespace), f"{name}() missing 1 required positional argument: 'name'"),
        (lambda: make(), f"{name}() missing 2 required positional arguments: 'namespace' and 'name'"),
        (lambda: make(namespace, b"", b""), f"{name}() takes 2 positional arguments but 3 were given"),
        (lambda: make(namespace, name=b"", names=b""), f"{name}() got an unexpected keyword argument 'names'"),
    ]
    for call, message in cases:
        with pytest.raises(TypeError) as caught:
            call()
        assert caught.value.args == (message,)
