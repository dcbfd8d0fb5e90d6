"""Times quarn.distributed.scan against quarn.scan on the same files, one
run each, on a LocalCluster of two single-threaded worker processes.

    PYTHONPATH=build/python /usr/bin/python3 bench/distributed_scan.py [DIR] [--large-mib N] [--small-files N]

Makes (or reuses) DIR with one large file of random bytes with zlib streams
in it and many small files, reads them once so that both scans find them in
the page cache, then times: quarn.scan; the cluster's start; the fixed cost of one distributed call (a tiny
file); and quarn.distributed.scan with the default chunks (256 MiB) and
with 32 MiB chunks. Prints wall time and processor time (for the cluster: client,
scheduler and workers together), which load on the machine does not
inflate the way it inflates wall time. Checks that every result equals
quarn.scan's.
"""

from __future__ import annotations

import argparse
import os
import random
import resource
import tempfile
import time
import zlib
from pathlib import Path


def make_files(root: Path, large_mib: int, small_files: int) -> list:
    rng = random.Random(1)
    root.mkdir(parents=True, exist_ok=True)
    large = root / "large.bin"
    if not large.exists() or large.stat().st_size < large_mib << 20:
        with open(large, "wb") as f:
            for _ in range(large_mib):
                f.write(os.urandom((1 << 20) - 40000))
                f.write(zlib.compress(bytes(rng.choice(b"abcdefgh \n") for _ in range(60000)), 6)[:40000])
    small = root / "small"
    small.mkdir(exist_ok=True)
    for n in range(small_files):
        path = small / f"{n:04d}.bin"
        if not path.exists():
            path.write_bytes(os.urandom(rng.randint(1000, 200000)) + zlib.compress(os.urandom(100) * 50))
    return [large, small]


def cpu_seconds() -> float:
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def cluster_cpu_seconds(client) -> float:
    """Processor time of this process, the scheduler and every worker."""
    workers = client.run(cpu_seconds)
    return cpu_seconds() + client.run_on_scheduler(cpu_seconds) + sum(workers.values())


def timed(what: str, call, cpu=cpu_seconds):
    """Runs `call` once; prints its wall time and the processor time it took."""
    cpu_start = cpu()
    start = time.perf_counter()
    result = call()
    seconds = time.perf_counter() - start
    print(f"{what:<52} {seconds:8.3f} s wall {cpu() - cpu_start:8.3f} s cpu")
    return result, seconds


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("dir", nargs="?", default=os.path.join(tempfile.gettempdir(), "quarn-bench-distributed"))
    parser.add_argument("--large-mib", type=int, default=1024)
    parser.add_argument("--small-files", type=int, default=500)
    args = parser.parse_args()

    import quarn
    import quarn.distributed
    from dask.distributed import Client, LocalCluster

    paths = make_files(Path(args.dir), args.large_mib, args.small_files)
    total = 0
    for path in quarn.list_files(paths, recursive=True):
        with open(path, "rb") as f:
            while chunk := f.read(1 << 24):
                total += len(chunk)
    print(f"files: {len(quarn.list_files(paths))} (one of {args.large_mib} MiB), {total / (1 << 20):.0f} MiB in all")

    expected, _ = timed("quarn.scan", lambda: quarn.scan(paths, recursive=True, streams=True))
    (cluster, client), _ = timed(
        "LocalCluster start (2 worker processes x 1 thread)",
        lambda: (lambda c: (c, Client(c)))(LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=":0")),
    )
    try:
        tiny = Path(args.dir) / "tiny.bin"
        tiny.write_bytes(zlib.compress(b"tiny" * 100))
        quarn.distributed.scan(client, tiny)  # workers import quarn once
        on_cluster = lambda: cluster_cpu_seconds(client)  # noqa: E731
        timed(
            "quarn.distributed.scan of one tiny file (fixed cost)",
            lambda: quarn.distributed.scan(client, tiny),
            on_cluster,
        )
        for chunk_mib in (256, 32):
            stats: dict = {}
            got, _ = timed(
                f"quarn.distributed.scan, chunk_bytes={chunk_mib} MiB",
                lambda: quarn.distributed.scan(
                    client, paths, chunk_bytes=chunk_mib << 20, recursive=True, streams=True, stats=stats
                ),
                on_cluster,
            )
            assert got == expected
            print(f"    {stats}")
        _, _ = timed("quarn.scan again", lambda: quarn.scan(paths, recursive=True, streams=True))
    finally:
        client.close()
        cluster.close()


if __name__ == "__main__":
    main()
