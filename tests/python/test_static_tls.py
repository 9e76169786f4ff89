"""The module's thread-local storage stays a few dozen bytes.

Its thread-locals use the initial-exec model, so when the interpreter loads
the module the C library must find all of them room in its small reserve of
static TLS (512 bytes by default on glibc, shared with every other such
library loaded later). A bigger thread-local (a generator's state, a buffer)
would make importing fail beside other libraries that need the same reserve,
with "cannot allocate memory in static TLS block".
"""

from __future__ import annotations

import struct

import pytest

kestrand = pytest.importorskip("kestrand")

PT_TLS = 7
LIMIT = 128  # bytes; all of it today: 64


def tls_segment_size(path: str) -> int:
    """p_memsz of the PT_TLS program header of a 64-bit little-endian ELF file, 0 without one."""
    with open(path, "rb") as f:
        header = f.read(64)
        assert header[:4] == b"\x7fELF" and header[4] == 2 and header[5] == 1, "not a 64-bit LE ELF file"
        (phoff,) = struct.unpack_from("<Q", header, 0x20)
        phentsize, phnum = struct.unpack_from("<HH", header, 0x36)
        f.seek(phoff)
        table = f.read(phentsize * phnum)
    for i in range(phnum):
        p_type, _flags, _offset, _vaddr, _paddr, _filesz, p_memsz, _align = struct.unpack_from(
            "<IIQQQQQQ", table, i * phentsize
        )
        if p_type == PT_TLS:
            return p_memsz
    return 0


def test_the_modules_thread_locals_fit_the_static_tls_reserve() -> None:
    size = tls_segment_size(kestrand.__file__)
    assert 0 < size <= LIMIT, f"{size} bytes of thread-local storage"
