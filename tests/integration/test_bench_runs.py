"""The README's quick start ends in the benchmark: it must run through on every
Python the suite runs on and time every case of kestrand's, beside the
standard library wherever that has the same function. A case whose statement
fails is reported as n/a rather than stopping the run, so only the recorded
times show it. Nothing here depends on how long anything took."""

import importlib.util
import json
import os
import shutil
import subprocess
import sys
import uuid
from pathlib import Path

import pytest

BENCH = Path(__file__).resolve().parents[2] / "bench" / "bench.py"

# Cases where the standard library has the same function on every Python.
STANDARD_LIBRARY_CASES = ["str(u)", "hash(u)", "UUID(hex, 36 chars)", "uuid4()", "uuid1()",
                          'uuid5(ns, "python.org")', "uuid4_bulk(100,000) per item"]


@pytest.fixture(scope="module")
def quick_run(tmp_path_factory):
    record_path = tmp_path_factory.mktemp("bench") / "run.json"
    env = {k: v for k, v in os.environ.items() if k != "KESTRAND_BENCH_PG"}
    done = subprocess.run([sys.executable, str(BENCH), "--quick", "--json", str(record_path)],
                          capture_output=True, text=True, timeout=900, env=env)
    assert done.returncode == 0, done.stderr[-3000:]
    return done.stdout, json.loads(record_path.read_text())


def test_every_case_times_the_installed_kestrand(quick_run):
    report, record = quick_run
    assert "not importable" not in report
    assert record["kestrand"] and Path(record["kestrand"]).name.startswith("kestrand.")
    times = record["times_ns"]
    untimed = [label for label, row in times.items() if not (row.get("kestrand") or 0) > 0]
    assert untimed == []
    for label in ["uuid4()", "uuid7()", "uuid4_bulk(100,000) per item", "uuid7_bulk(100,000) per item",
                  "uuid4_as_strings_bulk(100,000) per item", "uuid7_as_strings_bulk(100,000) per item"]:
        assert label in times, label


def test_the_standard_library_and_the_peers_stand_beside_it(quick_run):
    _, record = quick_run
    times = record["times_ns"]
    for label in STANDARD_LIBRARY_CASES + (["uuid7()"] if hasattr(uuid, "uuid7") else []):
        assert (times[label].get("stdlib") or 0) > 0, label
    for peer, label in (("uuid_utils", "uuid4()"), ("uuid6", "uuid7()")):
        if importlib.util.find_spec(peer) is not None:
            assert (times[label].get(peer) or 0) > 0, (peer, label)
            assert record["peers"][peer]


def test_the_report_prints_the_table_and_the_floors(quick_run):
    report, record = quick_run
    assert "Per-operation time" in report and "Floors for 16 random bytes" in report
    assert set(record["floors_ns"]) == {"vdso", "libc", "syscall"}
    if shutil.which("cc"):
        # The probe is compiled on demand; the C library's call and the bare
        # system call are there on every kernel, the vDSO's only on some.
        assert record["floors_ns"]["libc"] > 0 and record["floors_ns"]["syscall"] > 0


def test_the_recipes_of_the_integrations_page_are_timed(tmp_path):
    record_path = tmp_path / "integrations.json"
    done = subprocess.run([sys.executable, str(BENCH), "--integrations", "--quick", "--json", str(record_path)],
                          capture_output=True, text=True, timeout=900)
    assert done.returncode == 0, done.stderr[-3000:]
    times = json.loads(record_path.read_text())["times_ns"]
    # The tools are installed beside this suite, so every recipe is timed.
    untimed = [label for label, row in times.items() if not (row.get("kestrand") or 0) > 0]
    assert untimed == []
    assert any(label.startswith("to_std(u)") and row["stdlib"] > 0 for label, row in times.items())
    assert any(label.startswith("Django read") for label in times)
    assert sum(label.startswith(("DuckDB", "Parquet", "Polars", "pandas")) for label in times) == 5
