"""lumeric_dask on 20,000,000 points (480 MB) in 16 chunks: normalize, rotate and the exact nearest
point (stride 1), against one VecList in this process and against dask with numpy formulas.

  (a) lumeric_dask on a LocalCluster: 2 worker processes on loopback, 1 thread each,
      RAYON_NUM_THREADS=1 in each (2 x 1 x 1 = the 2 processors)
  (b) lumeric_dask on dask's threaded scheduler in this process (2 threads, pool of 2)
  (c) one VecList in this process: VecList.from_array, the operation, np.asarray
  (d) dask with plain numpy formulas, on the cluster of (a)

Inputs live where they are used (on the workers for (a) and (d)) and new clouds stay there, as
with any persisted dask array; moving the cloud to the workers and a result back is timed apart.
Prints median ns per point, the ratio to (c), and where the time goes: compute (time inside tasks,
per worker), transfer between processes, and the rest (scheduling, graph, pickled arguments,
idle). Goals: (a) within 2x of (c), and faster than (d). Writes build/bench/bench_dask.json.

  python3 bench/bench_dask.py [N]           (with lumeric_py and lumeric_dask importable; ~2 minutes)
"""

import os
import statistics
import sys
import time

import dask
import dask.array as da
import distributed
import numpy as np

import lumeric_dask
from cluster import in_process, local_cluster, median_run, on_cluster, threaded
from common import save
from lumeric_py import Quat, Vec3d, VecList

N = int(sys.argv[1]) if len(sys.argv) > 1 else 20_000_000
CHUNKS = 16
ROUNDS = 5
V = Vec3d(0.5, -1.5, 2.0)
Q = Quat(0.9273618495495703, 0.1, 0.2, 0.3)  # a unit quaternion
R = np.array(Q.to_rotation_matrix())  # rotate() on row vectors is `rows @ R`
NV = np.array(V.to_array())


def ours(op, cloud):
    """The operation through lumeric_dask: a lazy cloud, or the computed (index, distance)."""
    if op == "nearest":
        return lumeric_dask.minimum_distance_to(cloud, V, 1)
    return lumeric_dask.normalize(cloud) if op == "normalize" else lumeric_dask.rotate(cloud, Q)


def numpy_formulas(op, x):
    if op == "normalize":
        return x / da.sqrt((x * x).sum(axis=1, keepdims=True))
    if op == "rotate":
        return x @ R
    keys = ((x - NV) ** 2).sum(axis=1)
    index, least = dask.compute(keys.argmin(), keys.min())
    return int(index), float(np.sqrt(least))


def one_list(op, arr):
    lst = VecList.from_array(arr)
    if op == "nearest":
        return lst.minimum_distance_to(V, 1)
    if op == "rotate":
        lst.rotate(Q)
        return np.asarray(lst)
    return np.asarray(lst.normalize())


def run(op, formula, cloud, keep):
    """One operation; a new cloud is kept where it was computed, as a persisted dask array."""
    result = formula(op, cloud)
    if isinstance(result, da.Array):
        keep(result)


def task_parts(rows):
    """ns per point of one chunk's parts on one worker thread (run on a worker)."""
    import time as clock

    import numpy
    from lumeric_py import VecList as List

    block = numpy.random.default_rng(1).uniform(-100.0, 100.0, (rows, 3))
    parts = {}
    for _ in range(3):
        t0 = clock.perf_counter()
        lst = List.from_array(block)
        t1 = clock.perf_counter()
        lst.normalize()
        t2 = clock.perf_counter()
        lst.rotate(Q)
        t3 = clock.perf_counter()
        lst.minimum_distance_to(V, 1)
        t4 = clock.perf_counter()
        for name, seconds in [("from_array", t1 - t0), ("normalize", t2 - t1), ("rotate", t3 - t2),
                              ("nearest", t4 - t3)]:
            parts[name] = min(parts.get(name, 1e9), seconds * 1e9 / rows)
    return parts


def main():
    print(f"lumeric_dask, N = {N:,} points in {CHUNKS} chunks (Python {sys.version.split()[0]}, dask "
          f"{dask.__version__}, {len(os.sched_getaffinity(0))} processors; median of {ROUNDS} rounds)")
    chunk = -(-N // CHUNKS)
    with local_cluster() as client:
        # The cloud is made on the workers; this process gets a copy for (b) and (c).
        remote = client.persist(da.random.default_rng(12).uniform(-100.0, 100.0, (N, 3), chunks=(chunk, 3)))
        distributed.wait(remote)
        start = time.perf_counter()
        arr = remote.compute()
        gather = (time.perf_counter() - start) * 1e9 / N
        local = da.from_array(arr, chunks=(chunk, 3))
        start = time.perf_counter()
        scattered = client.scatter([arr[k:k + chunk] for k in range(0, N, chunk)])
        distributed.wait(scattered)
        scatter = (time.perf_counter() - start) * 1e9 / N
        del scattered
        assert ours("normalize", remote).compute().tobytes() == one_list("normalize", arr).tobytes(), \
            "the cluster and one list differ"
        inside = client.run(task_parts, -(-N // CHUNKS), workers=[client.scheduler_info()["workers"].popitem()[0]])
        inside = next(iter(inside.values()))
        noop = dask.delayed(lambda block: None, pure=True)
        blocks = remote.to_delayed(optimize_graph=False).ravel()
        per_task = statistics.median(on_cluster(client, lambda: dask.compute([noop(b) for b in blocks]))[0]
                                     for _ in range(ROUNDS)) * 1e3 / len(blocks)
        on_workers = lambda x: distributed.wait(client.persist(x))  # noqa: E731
        setups = {
            "(a) lumeric_dask, cluster 2x1": lambda op: on_cluster(client, lambda: run(op, ours, remote, on_workers)),
            "(b) lumeric_dask, threads": lambda op: threaded(lambda: run(op, ours, local, lambda x: x.persist())),
            "(c) one VecList": lambda op: in_process(lambda: one_list(op, arr)),
            "(d) numpy formulas, cluster 2x1": lambda op: on_cluster(
                client, lambda: run(op, numpy_formulas, remote, on_workers)),
        }
        rows = []
        for op in ("normalize", "rotate", "nearest"):
            samples = {name: [] for name in setups}
            for _ in range(ROUNDS):
                for name, measure in setups.items():
                    samples[name].append(measure(op))
            rows += [summary(op, name, runs) for name, runs in samples.items()]
    print_table(rows, inside, scatter, gather, per_task)
    save("n", N)
    save("chunks", CHUNKS)
    save("rows", rows)
    save("inside_task", inside)
    save("movement", {"scatter": scatter, "gather": gather})
    save("ms_per_task", per_task)


def summary(op, setup, runs):
    return {"operation": op, "setup": setup, **median_run(runs, N)}


def print_table(rows, inside, scatter, gather, per_task):
    header = f"{'operation':<11}{'setup':<34}{'ns/point':>9}{'/ (c)':>7}{'compute':>9}{'transfer':>9}{'other':>8}"
    print("\n" + header + "\n" + "-" * len(header))
    missed = []
    for row in rows:
        base = next(r["total"] for r in rows if r["operation"] == row["operation"] and r["setup"].startswith("(c)"))
        parts = row["parts"]
        line = f"{row['operation']:<11}{row['setup']:<34}{row['total']:>9.2f}{row['total'] / base:>7.2f}"
        if parts:
            line += f"{parts['compute']:>9.2f}{parts['transfer']:>9.2f}{parts['scheduling']:>8.2f}"
        print(line)
        if row["setup"].startswith("(a)"):
            numpy = next(r["total"] for r in rows
                         if r["operation"] == row["operation"] and r["setup"].startswith("(d)"))
            if row["total"] > 2 * base:
                missed.append(f"{row['operation']}: (a) {row['total'] / base:.2f}x (c)")
            if row["total"] >= numpy:
                missed.append(f"{row['operation']}: (a) not faster than (d)")
    print("\ncompute = time inside tasks per worker; transfer = between processes per worker; other = the rest"
          " of the wall time\n(scheduling, building the graph, pickled arguments, waiting)")
    print("Inside one task, per point on one worker thread: " +
          ", ".join(f"{name} {ns:.2f} ns" for name, ns in inside.items()))
    print(f"A task on each chunk that does nothing: {per_task:.2f} ms per chunk, or "
          f"{per_task * 1e6 * CHUNKS / N:.2f} ns/point at this chunk size: the floor of the rest")
    print(f"Moving data over loopback: the cloud to the workers {scatter:.1f} ns/point, "
          f"the cloud back to this process {gather:.1f} ns/point")
    print("Goals ((a) <= 2x (c), (a) < (d)) missed: " + ("none" if not missed else "; ".join(missed)))


if __name__ == "__main__":
    main()
