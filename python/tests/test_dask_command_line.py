"""A cluster started by hand, as on several machines: `dask scheduler` and two
`dask worker` processes from the command line, and the archive example run
on it."""

import json
import os
import subprocess
import sys
import time
from pathlib import Path

import pytest

distributed = pytest.importorskip("distributed", reason="kdrvx.dask on a cluster needs distributed")

PYTHON_PACKAGE = Path(__file__).resolve().parents[1]
EXAMPLE = PYTHON_PACKAGE.parent / "examples" / "archive.py"
STARTUP_S = 60  # at most, on a machine shared with other work


def start(arguments, environment, log):
    """A `dask` command in a process group of its own."""
    return subprocess.Popen([sys.executable, "-m", "dask"] + arguments, env=environment,
                            stdout=log, stderr=subprocess.STDOUT, start_new_session=True)


def wait_for(condition, what, processes, log_path):
    deadline = time.monotonic() + STARTUP_S
    while not condition():
        ended = [process.args for process in processes if process.poll() is not None]
        if ended or time.monotonic() > deadline:
            pytest.fail("%s: %s\n%s" % (what, "ended: %s" % ended if ended else "timed out",
                                        log_path.read_text(errors="replace")))
        time.sleep(0.1)


@pytest.fixture
def cluster(tmp_path):
    """The scheduler file of a scheduler on a free port of this machine and
    two worker processes of one thread each; all three are stopped at the end."""
    environment = dict(os.environ, PYTHONPATH=str(PYTHON_PACKAGE))
    scheduler_file = tmp_path / "scheduler.json"
    log_path = tmp_path / "cluster.log"
    processes = []
    with open(log_path, "w") as log:
        try:
            processes.append(start(["scheduler", "--host", "127.0.0.1", "--port", "0",
                                    "--no-dashboard", "--scheduler-file", str(scheduler_file)],
                                   environment, log))
            wait_for(lambda: scheduler_file.exists() and scheduler_file.stat().st_size,
                     "the scheduler", processes, log_path)
            for _ in range(2):
                processes.append(start(["worker", "--scheduler-file", str(scheduler_file),
                                        "--host", "127.0.0.1", "--nthreads", "1", "--no-nanny",
                                        "--no-dashboard", "--death-timeout", str(STARTUP_S)],
                                       environment, log))

            def workers():
                with distributed.Client(scheduler_file=str(scheduler_file),
                                        timeout=STARTUP_S) as client:
                    return len(client.scheduler_info()["workers"]) == 2
            wait_for(workers, "two workers", processes, log_path)
            yield scheduler_file, json.loads(scheduler_file.read_text())["address"]
        finally:
            for process in reversed(processes):
                if process.poll() is None:
                    process.terminate()
            for process in reversed(processes):
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()


def test_archive_example_on_a_cluster_started_by_hand(cluster, tmp_path):
    scheduler_file, address = cluster
    environment = dict(os.environ, PYTHONPATH=str(PYTHON_PACKAGE))
    run = subprocess.run([sys.executable, str(EXAMPLE), "--scheduler-file", str(scheduler_file),
                          "--recordings", "60", "--records", "300"],
                         env=environment, capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stdout + run.stderr
    assert "cluster of 2 workers:" in run.stdout
    assert "highest p1:" in run.stdout  # after the example checked the cluster against the loop
    # The records were read in the workers' processes.
    with distributed.Client(address, timeout=STARTUP_S) as client:
        assert any(client.run(lambda: "kdrvx.dask" in sys.modules).values())
