"""The code blocks of docs/integrations.md, run as they are written.

Each recipe in the document is a ```python block preceded by a marker
comment `<!-- recipe: NAME -->`. Tests run recipes by name, so the document
and the tests cannot drift apart.
"""

from __future__ import annotations

import re
import sys
import types
from pathlib import Path

DOCUMENT = Path(__file__).resolve().parents[2] / "docs" / "integrations.md"

_FENCE = re.compile(r"^```python\n(.*?)^```", re.S | re.M)
_MARKED = re.compile(r"<!-- recipe: ([\w-]+) -->\n```python\n(.*?)^```", re.S | re.M)


def python_blocks() -> list[str]:
    """Every python block of the document, marked or not."""
    return _FENCE.findall(DOCUMENT.read_text(encoding="utf-8"))


def marked_blocks() -> dict[str, str]:
    blocks: dict[str, str] = {}
    for name, code in _MARKED.findall(DOCUMENT.read_text(encoding="utf-8")):
        if name in blocks:
            raise AssertionError(f"two recipes named {name!r} in {DOCUMENT.name}")
        blocks[name] = code
    return blocks


def run(*names: str) -> types.ModuleType:
    """A fresh module in which the named recipes ran one after another (a
    later recipe may use what an earlier one defined, as the document does)."""
    blocks = marked_blocks()
    module = types.ModuleType("recipe_" + "_".join(n.replace("-", "_") for n in names))
    # Libraries that resolve annotations (SQLAlchemy, pydantic) look the
    # defining module up by name, as they would for a user's own module.
    sys.modules[module.__name__] = module
    for name in names:
        code = compile(blocks[name], f"{DOCUMENT}::{name}", "exec")
        exec(code, module.__dict__)
    return module
