"""A missing server fails the PostgreSQL tests loudly unless skipping is asked for."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

HERE = Path(__file__).parent


@pytest.mark.parametrize(
    ("skip", "code", "summary"),
    [(None, 1, "1 error"), ("1", 0, "1 skipped")],
    ids=["fails", "skips-on-request"],
)
def test_missing_server_binaries(tmp_path, skip, code, summary):
    env = {k: v for k, v in os.environ.items() if k != "KESTRAND_SKIP_POSTGRES"}
    env["KESTRAND_PG_BINDIR"] = str(tmp_path / "no-such-bin")
    if skip is not None:
        env["KESTRAND_SKIP_POSTGRES"] = skip
    run = subprocess.run(
        [sys.executable, "-m", "pytest", "-q", "-rs", "-p", "no:cacheprovider",
         f"{HERE / 'test_postgres_psycopg.py'}::test_null_stays_none"],
        cwd=HERE, env=env, capture_output=True, text=True,
    )
    assert run.returncode == code, run.stdout + run.stderr
    assert summary in run.stdout
    assert "PostgreSQL server binaries not found" in run.stdout
