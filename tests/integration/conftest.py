"""A throwaway PostgreSQL cluster for the integration tests.

The cluster lives in a temporary folder: initdb writes it there, the server
listens only on a Unix socket in that folder (no TCP port to collide with),
and it is stopped and removed when the session ends, whether the tests passed
or not. As root (CI), the server runs as the `postgres` user, since initdb
refuses to run as root.

Without the server binaries the PostgreSQL tests fail, saying what to install;
KESTRAND_SKIP_POSTGRES=1 turns that into a skip on machines that have no
server on purpose.
"""

from __future__ import annotations

import glob
import itertools
import os
import pwd
import shutil
import signal
import subprocess
import tempfile
from pathlib import Path

import pytest

SUPERUSER = "kestrand"


def _server_bindir() -> Path | None:
    """KESTRAND_PG_BINDIR, else the newest Debian installation, else PATH."""
    if explicit := os.environ.get("KESTRAND_PG_BINDIR"):
        return Path(explicit)
    debian = sorted(
        glob.glob("/usr/lib/postgresql/*/bin/initdb"),
        key=lambda p: int(Path(p).parent.parent.name) if Path(p).parent.parent.name.isdigit() else 0,
    )
    if debian:
        return Path(debian[-1]).parent
    found = shutil.which("initdb")
    return Path(found).parent if found else None


class Cluster:
    def __init__(self, bindir: Path, folder: Path, as_postgres: bool) -> None:
        self.bindir = bindir
        self.folder = folder
        self.data = folder / "data"
        self.log = folder / "server.log"
        self.prefix = ["runuser", "-u", "postgres", "--"] if as_postgres else []

    def _run(self, tool: str, *args: str) -> None:
        subprocess.run(
            [*self.prefix, str(self.bindir / tool), *args],
            check=True,
            capture_output=True,
            text=True,
            cwd=self.folder,
        )

    def start(self) -> None:
        self._run("initdb", "-D", str(self.data), "-U", SUPERUSER, "-A", "trust", "-E", "UTF8", "--locale=C", "--no-sync")
        options = f"-k {self.folder} -c listen_addresses='' -F"
        self._run("pg_ctl", "-D", str(self.data), "-l", str(self.log), "-o", options, "-w", "-t", "60", "start")

    def stop(self) -> None:
        if (self.data / "postmaster.pid").exists():
            self._run("pg_ctl", "-D", str(self.data), "-m", "immediate", "-w", "stop")

    def conninfo(self) -> str:
        return f"host={self.folder} dbname=postgres user={SUPERUSER}"

    def url(self, scheme: str = "postgresql") -> str:
        return f"{scheme}://{SUPERUSER}@/postgres?host={self.folder}"

    def log_text(self) -> str:
        try:
            return self.log.read_text(errors="replace")
        except OSError:
            return "(no server log)"


@pytest.fixture(scope="session")
def postgres() -> Cluster:
    bindir = _server_bindir()
    if bindir is None or not (bindir / "initdb").exists():
        message = (
            "PostgreSQL server binaries not found (initdb, pg_ctl): install Debian's postgresql package, "
            "point KESTRAND_PG_BINDIR at them, or set KESTRAND_SKIP_POSTGRES=1 to skip these tests"
        )
        if os.environ.get("KESTRAND_SKIP_POSTGRES") == "1":
            pytest.skip(message)
        pytest.fail(message, pytrace=False)
    as_postgres = os.geteuid() == 0
    if as_postgres:
        try:
            account = pwd.getpwnam("postgres")
        except KeyError:
            pytest.fail("running as root needs the `postgres` account (Debian's postgresql package makes it)",
                        pytrace=False)
    folder = Path(tempfile.mkdtemp(prefix="kestrand-pg-"))
    if as_postgres:
        os.chown(folder, account.pw_uid, account.pw_gid)
    cluster = Cluster(bindir, folder, as_postgres)
    # A run stopped from outside (a CI time limit, `timeout`) still removes
    # the cluster: SIGTERM unwinds like Ctrl-C, through the finally below.
    previous = signal.signal(signal.SIGTERM, _interrupt)
    try:
        try:
            cluster.start()
        except subprocess.CalledProcessError as exc:
            pytest.fail(f"starting PostgreSQL failed: {exc.stderr}\n{cluster.log_text()}", pytrace=False)
        yield cluster
    finally:
        try:
            cluster.stop()
        finally:
            shutil.rmtree(folder, ignore_errors=True)
            signal.signal(signal.SIGTERM, previous)


def _interrupt(signum, frame):
    raise KeyboardInterrupt(f"signal {signum}")


_tables = itertools.count()


@pytest.fixture
def pg_table(postgres):
    """A new table `(id uuid)` for one test (the cluster goes away with its
    tables at the end of the session)."""
    import psycopg

    name = f"keys_{next(_tables)}"
    with psycopg.connect(postgres.conninfo(), autocommit=True) as conn:
        conn.execute(f"CREATE TABLE {name} (id uuid)")
    return name
