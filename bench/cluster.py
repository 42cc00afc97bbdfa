"""Timing on a dask cluster, shared by the benchmarks of lumeric_dask: the LocalCluster they run on,
and each run's wall time with the time inside tasks and moving data, per worker."""

import contextlib
import time
import warnings

import dask
import distributed
from dask.diagnostics import Profiler

WORKERS = 2


@contextlib.contextmanager
def local_cluster():
    """A client of 2 worker processes on loopback, 1 thread each, RAYON_NUM_THREADS=1 in each
    (2 x 1 x 1 = the 2 processors of the machine these figures come from)."""
    with distributed.LocalCluster(n_workers=WORKERS, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None, env={"RAYON_NUM_THREADS": "1"}) as cluster, \
            distributed.Client(cluster) as client:
        client.get_task_stream(count=0)  # starts the scheduler's task stream
        yield client


def stream_length(dask_scheduler):
    """How many tasks the scheduler's task stream has recorded (run on the scheduler)."""
    return dask_scheduler.plugins["task-stream"].index


def scheduler_tasks(dask_scheduler):
    return len(dask_scheduler.tasks)


def on_cluster(client, run):
    """(seconds, compute, transfer): the wall time and the seconds per worker inside tasks and
    moving data, from the task stream's records of this run (counted, not picked by time: the
    workers' clocks differ a little, and the stream's own search by time assumes they do not)."""
    before = client.run_on_scheduler(stream_length)
    held = client.run_on_scheduler(scheduler_tasks)
    start = time.perf_counter()
    run()
    wall = time.perf_counter() - start
    count = client.run_on_scheduler(stream_length) - before
    # Results are released asynchronously; a repeat with the same keys must not find them.
    while client.run_on_scheduler(scheduler_tasks) > held:
        time.sleep(0.01)
    spent = {"compute": 0.0, "transfer": 0.0}
    for task in client.get_task_stream(count=count) if count else []:
        for part in task["startstops"]:
            if part["action"] in spent:
                spent[part["action"]] += part["stop"] - part["start"]
    return wall, spent["compute"] / WORKERS, spent["transfer"] / WORKERS


def threaded(run):
    with dask.config.set(scheduler="threads", num_workers=WORKERS), Profiler() as profile, warnings.catch_warnings():
        warnings.filterwarnings("ignore", "Running on a single-machine scheduler")  # on purpose
        start = time.perf_counter()
        run()
        wall = time.perf_counter() - start
    return wall, sum(t.end_time - t.start_time for t in profile.results) / WORKERS, 0.0


def in_process(run):
    start = time.perf_counter()
    run()
    return time.perf_counter() - start, None, None


def median_run(runs, count):
    """ns per item (point or query, count of them) of the run with the median wall time, with its
    parts, and the spread of the wall times."""
    wall, compute, transfer = sorted(runs, key=lambda r: r[0])[len(runs) // 2]
    per_item = 1e9 / count
    parts = {} if compute is None else {"compute": compute * per_item, "transfer": transfer * per_item,
                                        "scheduling": max(0.0, wall - compute - transfer) * per_item}
    return {"total": wall * per_item, "parts": parts,
            "spread": (max(r[0] for r in runs) - min(r[0] for r in runs)) * per_item}
