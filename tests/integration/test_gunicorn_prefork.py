"""A prefork server: gunicorn's master imports an application that has used
kestrand, then forks its sync workers, whose wall clock stands still from
the fork on (libfaketime). Across the workers no value is served twice.

The server listens on a loopback socket the test binds and hands over, and
runs under coreutils' `timeout`, so it stops by itself even if the test does
not get to stop it.
"""

from __future__ import annotations

import http.client
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import textwrap
import threading

import pytest

pytest.importorskip("gunicorn")

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "python"))
from os_shim import libfaketime  # noqa: E402

WORKERS = 3

# Each request waits until every worker is inside one, so the three requests
# the test sends are served by three different workers; the barrier is made
# in the master and inherited by each worker at the fork.
APP = textwrap.dedent(
    """
    import json, multiprocessing, os
    import kestrand

    # Used in the master, before the workers are forked.
    kestrand.uuid1(), kestrand.uuid4()
    MASTER_LAST_V7 = kestrand.uuid7().hex
    MASTER_NEXT_SEQ = ((int(kestrand.uuid_v1mc().hex[16:20], 16) & 0x3FFF) + 1) & 0x3FFF
    all_inside = multiprocessing.get_context("fork").Barrier(WORKERS)


    def app(environ, start_response):
        all_inside.wait(timeout=60)
        body = json.dumps({
            "pid": os.getpid(),
            "master_next_seq": MASTER_NEXT_SEQ,
            "master_last_v7": MASTER_LAST_V7,
            # A frozen clock leaves uuid1 only its 14-bit clock sequence to
            # tell workers apart, so few of them (see the test).
            "uuid1": [kestrand.uuid1().hex for _ in range(2)],
            "uuid_v1mc": [kestrand.uuid_v1mc().hex for _ in range(500)],
            "uuid7": [kestrand.uuid7().hex for _ in range(500)],
        }).encode()
        start_response("200 OK", [("Content-Type", "application/json"),
                                  ("Content-Length", str(len(body)))])
        return [body]
    """
).replace("WORKERS", str(WORKERS))


# The master's clock runs; each worker's stands still from its fork on (with
# FAKETIME_NO_CACHE, libfaketime reads the setting afresh at every call).
# Under libfaketime, time.sleep fails with EINVAL (its clock_nanosleep with an
# absolute deadline), and gunicorn's master sleeps between spawning workers:
# there, a select() with a timeout does the waiting.
CONFIG = textwrap.dedent(
    """
    import os, select, time

    def _sleep(seconds):
        select.select([], [], [], seconds)

    time.sleep = _sleep

    def post_fork(server, worker):
        os.environ["FAKETIME"] = "2025-01-01 00:00:00"
    """
)


def fetch(port: int, out: list, index: int) -> None:
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=90)
    try:
        connection.request("GET", "/")
        response = connection.getresponse()
        out[index] = (response.status, response.read())
    finally:
        connection.close()


def test_prefork_workers_never_serve_the_same_value(tmp_path):
    faketime = libfaketime()
    if faketime is None:
        pytest.skip("libfaketime is not installed (Debian package libfaketime)")
    if shutil.which("timeout") is None:
        pytest.skip("coreutils' timeout is not installed")
    (tmp_path / "prefork_app.py").write_text(APP)
    (tmp_path / "prefork_config.py").write_text(CONFIG)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    port = listener.getsockname()[1]
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([str(tmp_path), *filter(None, sys.path)])
    env["LD_PRELOAD"] = " ".join(filter(None, [os.environ.get("LD_PRELOAD", ""), faketime]))
    env["FAKETIME"] = "+0"
    env["FAKETIME_NO_CACHE"] = "1"
    # Timeouts and the master's checks on its workers need a running clock.
    env["FAKETIME_DONT_FAKE_MONOTONIC"] = "1"
    server = subprocess.Popen(
        ["timeout", "-k", "5", "120", sys.executable, "-m", "gunicorn",
         "--preload", "--workers", str(WORKERS), "--worker-class", "sync", "--timeout", "120",
         "--bind", f"fd://{listener.fileno()}", "--chdir", str(tmp_path),
         "--config", str(tmp_path / "prefork_config.py"), "prefork_app:app"],
        pass_fds=[listener.fileno()],
        env=env,
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
        text=True,
    )
    listener.close()
    replies: list = [None] * WORKERS
    try:
        clients = [threading.Thread(target=fetch, args=(port, replies, i)) for i in range(WORKERS)]
        for client in clients:
            client.start()
        for client in clients:
            client.join(timeout=100)
    finally:
        server.send_signal(signal.SIGTERM)
        log, _ = server.communicate(timeout=30)
    assert all(reply is not None and reply[0] == 200 for reply in replies), log
    served = [json.loads(body) for _, body in replies]
    assert len({worker["pid"] for worker in served}) == WORKERS

    for name in ("uuid1", "uuid_v1mc", "uuid7"):
        values = [value for worker in served for value in worker[name]]
        assert len(set(values)) == len(values), f"{name}: a value served twice"
    # The clock stood still in the workers: one tick for every uuid1.
    assert len({value[:16] for worker in served for value in worker["uuid1"]}) == 1
    nodes = [value[20:] for worker in served for value in worker["uuid_v1mc"]]
    assert len(set(nodes)) == len(nodes)
    for worker in served:
        # No worker counts on the master's clock sequence...
        assert int(worker["uuid1"][0][16:20], 16) & 0x3FFF != worker["master_next_seq"]
        # ...nor in the master's millisecond: each starts one past it.
        first_ms = int(worker["uuid7"][0][:12], 16)
        assert first_ms == int(worker["master_last_v7"][:12], 16) + 1
        assert worker["uuid7"] == sorted(worker["uuid7"])
