"""lumeric_dask.query on the 2-worker LocalCluster of bench_dask.py (part of bench_spatial.py):
10,000,000 uniform points in chunks of 1,250,000 and 1,000,000 uniform queries in chunks of
250,000, both held by the workers, k = 1, the answers gathered into this process.

  (a) lumeric_dask.query on the cluster: the cloud cut into pieces along a curve, a tree per
      piece, each query sent to its home piece and to the pieces its bound cannot rule out
  (b) lumeric_dask.query on dask's threaded scheduler in this process (2 threads, pool of 2)
  (c) one KDTree over the whole cloud in this process (pool of 2): build, then query

Prints ns per query of each, the ratio to (c), and where the time goes: compute (inside tasks, per
worker), transfer between processes, and the rest; and, inside the tasks of one chunk on one
worker thread, what building, querying and recomputing the keys cost.
"""

import sys
import time

import cloudpickle
import dask
import dask.array as da
import distributed
import numpy as np

import lumeric_dask
from cluster import in_process, local_cluster, median_run, on_cluster, threaded
from lumeric_py import KDTree

CLOUD_CHUNK = 1_250_000
QUERY_CHUNK = 250_000
ROUNDS = 3

# Tasks sent to the workers by client.run travel by value: the workers cannot import this file.
cloudpickle.register_pickle_by_value(sys.modules[__name__])


def task_parts(cloud_rows, query_rows, chunks):
    """Seconds of one piece's steps on one worker thread (run on a worker): building its tree, and
    for one query chunk the tree's query, then the ranks of the candidates and the rest."""
    from lumeric_dask import _partition, _query  # imported there: modules do not travel by value

    rng = np.random.default_rng(5)
    block, queries = rng.uniform(0.0, 1.0, (cloud_rows, 3)), rng.uniform(0.0, 1.0, (query_rows, 3))
    best = {}
    for _ in range(3):
        t0 = time.perf_counter()
        piece = _partition.build_piece((block, np.arange(cloud_rows)))
        t1 = time.perf_counter()
        piece.tree.query(queries, 1)
        t2 = time.perf_counter()
        _, _, local = _query.candidates(piece, queries, 1, cloud_rows)
        _query.ranks(piece, queries, local)
        t3 = time.perf_counter()
        for name, seconds in [("build", t1 - t0), ("query", t2 - t1), ("keys and the rest", (t3 - t2) - (t2 - t1))]:
            best[name] = min(best.get(name, 1e9), seconds)
    return best


def measure(n, m):
    cloud_chunk, query_chunk = min(CLOUD_CHUNK, n), min(QUERY_CHUNK, m)
    chunks = -(-n // cloud_chunk)
    print(f"\nlumeric_dask.query: {n:,} points in {chunks} chunks, {m:,} queries in {-(-m // query_chunk)} chunks, "
          f"k = 1 (dask {dask.__version__}; median of {ROUNDS} rounds)")
    with local_cluster() as client:
        cloud = client.persist(da.random.default_rng(12).uniform(0.0, 1.0, (n, 3), chunks=(cloud_chunk, 3)))
        queries = client.persist(da.random.default_rng(13).uniform(0.0, 1.0, (m, 3), chunks=(query_chunk, 3)))
        distributed.wait([cloud, queries])
        points, x = cloud.compute(), queries.compute()
        local = da.from_array(points, chunks=(cloud_chunk, 3)), da.from_array(x, chunks=(query_chunk, 3))
        want = [np.asarray(a).tobytes() for a in KDTree(points).query(x, 1)]
        got = dask.compute(*lumeric_dask.query(cloud, queries, 1))
        assert [a.tobytes() for a in got] == want, "the cluster and one tree differ"
        worker = next(iter(client.scheduler_info()["workers"]))
        inside = client.run(task_parts, cloud_chunk, query_chunk, chunks, workers=[worker])[worker]
        setups = {
            "(a) lumeric_dask, cluster 2x1": lambda: on_cluster(
                client, lambda: dask.compute(*lumeric_dask.query(cloud, queries, 1))),
            "(b) lumeric_dask, threads": lambda: threaded(lambda: dask.compute(*lumeric_dask.query(*local, 1))),
            "(c) one KDTree": lambda: in_process(lambda: KDTree(points).query(x, 1)),
        }
        samples = {name: [] for name in setups}
        for _ in range(ROUNDS):
            for name, run in setups.items():
                samples[name].append(run())
    rows = [{"setup": name, **median_run(runs, m)} for name, runs in samples.items()]
    base = rows[-1]["total"]
    header = f"{'setup':<34}{'ns/query':>10}{'/ (c)':>7}{'compute':>9}{'transfer':>9}{'other':>8}"
    print(header + "\n" + "-" * len(header))
    for row in rows:
        parts = row["parts"]
        line = f"{row['setup']:<34}{row['total']:>10.1f}{row['total'] / base:>7.2f}"
        if parts:
            line += f"{parts['compute']:>9.1f}{parts['transfer']:>9.1f}{parts['scheduling']:>8.1f}"
        print(line)
    print("compute = time inside tasks per worker; transfer = between processes per worker; other = the rest of "
          "the wall time (scheduling, graph, gathering the answers, waiting)")
    print(f"Inside the tasks, on one worker thread: a tree over {cloud_chunk:,} points "
          f"{inside['build'] * 1e9 / cloud_chunk:.1f} ns/point; per query of a chunk of {query_chunk:,}: "
          f"the tree's query {inside['query'] * 1e9 / query_chunk:.1f} ns, keys and the rest "
          f"{inside['keys and the rest'] * 1e9 / query_chunk:.1f} ns")
    return {"n": n, "m": m, "chunks": chunks, "rows": rows,
            "inside_task": {k: v * 1e9 / (cloud_chunk if k == "build" else query_chunk) for k, v in inside.items()}}
