"""The built extension exports exactly one dynamic symbol, PyInit_kestrand.

Anything else in the dynamic symbol table (a C++ template instance, an inline
function, a helper that lost its `static`) could clash with symbols of other
extensions loaded into the same interpreter.
"""

from __future__ import annotations

import shutil
import subprocess

import pytest

kestrand = pytest.importorskip("kestrand")

ENTRY_POINT = "PyInit_kestrand"


def nm_symbols(path: str) -> dict[str, str]:
    """Defined dynamic symbols by name, with nm's one-letter type."""
    out = subprocess.run(
        ["nm", "-D", "--defined-only", path], capture_output=True, text=True, check=True
    ).stdout
    symbols = {}
    for line in out.splitlines():
        parts = line.split()
        if len(parts) >= 2:
            kind, name = parts[-2], parts[-1]
            symbols[name.split("@")[0]] = "function" if kind in "Tt" else kind
    return symbols


def readelf_symbols(path: str) -> dict[str, str]:
    """Defined dynamic symbols by name, with readelf's symbol type."""
    out = subprocess.run(
        ["readelf", "--dyn-syms", "--wide", path], capture_output=True, text=True, check=True
    ).stdout
    symbols = {}
    for line in out.splitlines():
        # Num: Value Size Type Bind Vis Ndx Name
        parts = line.split()
        if len(parts) < 8 or not parts[0].rstrip(":").isdigit():
            continue
        kind, ndx, name = parts[3], parts[6], parts[7]
        if ndx == "UND" or kind in ("SECTION", "FILE") or not name:
            continue
        symbols[name.split("@")[0]] = "function" if kind == "FUNC" else kind
    return symbols


READERS = {"nm": nm_symbols, "readelf": readelf_symbols}
AVAILABLE = [tool for tool in READERS if shutil.which(tool)]


@pytest.mark.parametrize(
    "tool",
    AVAILABLE or [pytest.param(None, marks=pytest.mark.skip(reason="neither nm nor readelf is installed"))],
)
def test_only_the_module_entry_point_is_exported(tool: str) -> None:
    symbols = READERS[tool](kestrand.__file__)
    assert symbols == {ENTRY_POINT: "function"}
