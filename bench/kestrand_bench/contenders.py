"""The implementations measured side by side, each imported if it can be."""

from __future__ import annotations

from collections.abc import Callable
from typing import Any


try:
    import kestrand
except ImportError as exc:  # still useful: shows the other implementations
    kestrand = None  # type: ignore[assignment]
    KESTRAND_IMPORT_ERROR: str | None = str(exc)
else:
    KESTRAND_IMPORT_ERROR = None

try:
    import uuid_utils
except ImportError:
    uuid_utils = None  # type: ignore[assignment]

try:
    import uuid6
except ImportError:
    uuid6 = None  # type: ignore[assignment]

CONTENDERS = ("kestrand", "stdlib", "uuid_utils", "uuid6")
SAMPLE_HEX = "6ba7b810-9dad-11d1-80b4-00c04fd430c8"


def kfunc(name: str) -> Callable[..., Any] | None:
    """A kestrand attribute, or None if this build does not have it."""
    return getattr(kestrand, name, None) if kestrand is not None else None

