"""The farm (tessamire.farm) against the command line: its overhead on one shot, and shots per
minute with one and two local worker processes.

    PYTHONPATH=build/python TESSAMIRE_CLI=build/tessamire python3 bench/farm_bench.py [SHOTS]

Each shot corrects a generated grid of 40,000 points through a PC2 cache of 48 frames. The
command line's `tessamire apply` of one shot is timed beside the farm's run of the same shot on
a cluster already started (the cluster's start is printed apart), then SHOTS shots (default 6)
on clusters of 1 and 2 workers. The load average is printed with the figures: other work on the
machine moves them.
"""

import os
import subprocess
import sys
import tempfile
import time

import numpy as np

import tessamire
from python_apply import grid  # the same generated mesh as the apply bench
from tessamire import farm

FRAMES = 48


def inputs(folder: str) -> None:
    points, faces = grid(200, 200)
    tessamire.write_obj(os.path.join(folder, "rest.obj"), points, faces=faces)
    frames = np.stack([points * [1.0, 1.0, 1.0 + 0.02 * f] + [0.0, 0.01 * f, 0.0]
                       for f in range(FRAMES)])
    tessamire.write_cache(os.path.join(folder, "in.pc2"), frames, start=1.0, rate=1.0)


def shots(folder: str, count: int, tag: str) -> list[dict]:
    return [{"name": f"{tag}{i}", "rest": os.path.join(folder, "rest.obj"),
             "cache": os.path.join(folder, "in.pc2"), "iterations": 8,
             "out": os.path.join(folder, tag, f"{i}", "c.pc2")} for i in range(count)]


def timed(work) -> float:
    start = time.perf_counter()
    work()
    return time.perf_counter() - start


def on_cluster(workers: int, work) -> tuple[float, float]:
    """The cluster's start and `work(client)`'s time on it."""
    from distributed import Client, LocalCluster
    start = time.perf_counter()
    cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                           dashboard_address=None)
    client = Client(cluster)
    started = time.perf_counter() - start
    try:
        return started, timed(lambda: work(client))
    finally:
        client.close()
        cluster.close()


def main() -> None:
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 6
    program = os.environ.get("TESSAMIRE_CLI", os.path.join("build", "tessamire"))
    with tempfile.TemporaryDirectory() as folder:
        inputs(folder)
        print(f"load average before: {os.getloadavg()[0]:.2f}")
        command = [program, "apply", "--rest", os.path.join(folder, "rest.obj"),
                   os.path.join(folder, "in.pc2"), "--out", os.path.join(folder, "cli.pc2"),
                   "--iterations", "8", "--quiet"]
        line = timed(lambda: subprocess.run(command, check=True))
        started, one = on_cluster(1, lambda client: farm.run(
            shots(folder, 1, "one"), client, chunk=FRAMES // 4, progress=False))
        print(f"one shot of {FRAMES} frames: command line {line:.2f} s, farm {one:.2f} s on a "
              f"started cluster of 1 worker (overhead {one - line:+.2f} s; the cluster's start "
              f"{started:.2f} s)")
        for workers in (1, 2):
            _, seconds = on_cluster(workers, lambda client: farm.run(
                shots(folder, count, f"w{workers}-"), client, progress=False))
            print(f"{count} shots on {workers} worker(s): {seconds:.2f} s, "
                  f"{60.0 * count / seconds:.1f} shots per minute")
        print(f"load average after: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
