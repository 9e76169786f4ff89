"""The documents against the checkout they describe: the stages that
docs/testing.md names are the stages the test runner runs, and every relative
link in the README and docs/ leads to a file (and heading) that exists.

These read the repository checkout; run from an installed copy of the suite
without one, they skip."""

from __future__ import annotations

import re
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
RUNNER = ROOT / "tests" / "run_all.sh"
TESTING_DOC = ROOT / "docs" / "testing.md"

pytestmark = pytest.mark.skipif(
    not (RUNNER.is_file() and TESTING_DOC.is_file()),
    reason=f"no repository checkout around {Path(__file__).parent} (tests/run_all.sh, docs/testing.md)",
)

STAGE_ROW = re.compile(r"^\|\s*`([^`]+)`\s*\|")
LINK = re.compile(r"\]\(([^)\s]+)\)")


def documented_stages() -> list[str]:
    """The stages in the order of the table under '## The stages'."""
    text = TESTING_DOC.read_text(encoding="utf-8")
    section = text.split("\n## The stages\n", 1)[1].split("\n## ", 1)[0]
    return [match.group(1) for line in section.splitlines() if (match := STAGE_ROW.match(line))]


def listed_stages() -> list[str]:
    if shutil.which("bash") is None:
        pytest.skip("bash is not installed")
    run = subprocess.run(["bash", str(RUNNER), "--list"], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    return run.stdout.split()


def test_testing_doc_names_exactly_the_stages_the_runner_lists_in_its_order():
    documented = documented_stages()
    listed = listed_stages()
    assert listed, "tests/run_all.sh --list printed no stage"
    assert documented == listed


def heading_anchors(markdown: str) -> set[str]:
    """The anchors a Markdown renderer gives the headings: lower case, spaces
    to hyphens, punctuation other than hyphens and underscores dropped."""
    anchors = set()
    for line in markdown.splitlines():
        if match := re.match(r"^#{1,6}\s+(.*?)\s*$", line):
            slug = re.sub(r"[^\w\- ]", "", match.group(1).lower())
            anchors.add(slug.replace(" ", "-"))
    return anchors


DOCUMENTS = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]


@pytest.mark.parametrize("document", DOCUMENTS, ids=lambda p: str(p.relative_to(ROOT)))
def test_relative_links_lead_to_existing_files_and_headings(document):
    text = document.read_text(encoding="utf-8")
    broken = []
    for target in LINK.findall(text):
        if re.match(r"^[a-z]+:", target):
            continue  # a URL
        path_part, _, anchor = target.partition("#")
        linked = (document.parent / path_part).resolve() if path_part else document
        if not linked.exists():
            broken.append(target)
        elif anchor and linked.suffix == ".md" and anchor not in heading_anchors(linked.read_text(encoding="utf-8")):
            broken.append(target)
    assert broken == []
