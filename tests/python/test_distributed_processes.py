"""quarn.distributed.scan on a cluster of separate processes, as on real
machines: `dask scheduler` and two `dask worker`s on 127.0.0.1, started and
stopped by the test itself with the interpreter under test. The result
equals quarn.scan's; and when a worker process is killed in the middle of a
scan, Dask reruns its tasks and the result is still exact."""

from __future__ import annotations

import concurrent.futures
import os
import signal
import subprocess
import sys
import time

import pytest
from dask.distributed import Client

import quarn
import quarn.distributed
from conftest import CHUNK_BYTES, OPTION_SETS, option_id
from distributed_checks import check_equal_to_one_machine

START_SECONDS = 60


def dask_command(*args: str) -> list:
    # `dask ...` run by this very interpreter.
    return [sys.executable, "-m", "dask", *args]


class Cluster:
    def __init__(self, directory):
        self.directory = directory
        self.scheduler_file = str(directory / "scheduler.json")
        self.processes = []
        self.workers = []

    def start(self, workers: int) -> None:
        log = open(self.directory / "scheduler.log", "wb")
        self.processes.append(
            subprocess.Popen(
                dask_command("scheduler", "--host", "127.0.0.1", "--port", "0", "--no-dashboard",
                             "--scheduler-file", self.scheduler_file),
                stdout=log, stderr=subprocess.STDOUT,
            )
        )
        deadline = time.monotonic() + START_SECONDS
        while not os.path.exists(self.scheduler_file):
            assert time.monotonic() < deadline, "the scheduler did not start"
            assert self.processes[0].poll() is None, "the scheduler ended"
            time.sleep(0.1)
        for n in range(workers):
            self.add_worker(n)

    def add_worker(self, n: int) -> subprocess.Popen:
        log = open(self.directory / f"worker-{n}.log", "wb")
        # No nanny: the process started here is the worker itself.
        worker = subprocess.Popen(
            dask_command("worker", "--scheduler-file", self.scheduler_file, "--host", "127.0.0.1",
                         "--nthreads", "1", "--no-nanny", "--no-dashboard", "--name", f"quarn-test-{n}"),
            stdout=log, stderr=subprocess.STDOUT,
        )
        self.processes.append(worker)
        self.workers.append(worker)
        return worker

    def stop(self) -> None:
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
        for process in self.processes:
            try:
                process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


@pytest.fixture(scope="module")
def cluster(tmp_path_factory):
    c = Cluster(tmp_path_factory.mktemp("cluster"))
    try:
        c.start(workers=2)
        yield c
    finally:
        c.stop()


@pytest.fixture(scope="module")
def client(cluster):
    with Client(scheduler_file=cluster.scheduler_file, timeout=START_SECONDS) as c:
        c.wait_for_workers(2, timeout=START_SECONDS)
        yield c


@pytest.fixture(autouse=True)
def small_chunks(monkeypatch):
    # Small chunks make many tasks: far below the floor a user gets.
    monkeypatch.setattr(quarn.distributed, "_min_chunk_bytes", 1)


@pytest.mark.parametrize("options", [OPTION_SETS[0], OPTION_SETS[-1]], ids=option_id)
def test_cluster_of_processes_equals_one_machine(client, corpus_dir, large_file, quarn_scan_program, options):
    check_equal_to_one_machine(client, corpus_dir, large_file, quarn_scan_program, options)


def test_a_worker_killed_mid_scan_changes_nothing(cluster, client, large_file):
    # Small chunks make some hundred tasks, so the scan runs long enough to
    # kill a worker while it holds tasks and results.
    chunk_bytes = 4096
    expected = quarn.scan(large_file, streams=True, headerless=True, accept_incomplete=True)
    workers = client.scheduler_info()["workers"]
    assert len(workers) == 2
    victim_pid = cluster.workers[0].pid
    pids = client.run(os.getpid)
    (victim,) = [address for address, pid in pids.items() if pid == victim_pid]

    with concurrent.futures.ThreadPoolExecutor(1) as pool:
        running = pool.submit(
            quarn.distributed.scan, client, large_file, chunk_bytes=chunk_bytes,
            streams=True, headerless=True, accept_incomplete=True,
        )
        deadline = time.monotonic() + START_SECONDS
        while not client.processing().get(victim):
            assert not running.done(), "the scan ended before the worker could be killed"
            assert time.monotonic() < deadline
            time.sleep(0.005)
        os.kill(victim_pid, signal.SIGKILL)
        killed_mid_scan = not running.done()
        got = running.result(timeout=120)

    assert killed_mid_scan
    assert cluster.workers[0].wait(timeout=10) == -signal.SIGKILL
    assert got == expected
    assert victim not in client.scheduler_info()["workers"]
