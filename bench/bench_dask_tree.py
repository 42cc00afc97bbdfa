"""lumeric_dask.KDTree on the 2-worker LocalCluster of bench_dask.py against one KDTree in this
process (pool of 2), on two clouds of N points (default 10,000,000) with 1,000,000 queries:

  uniform   points uniform in the unit cube, queries uniform
  scan      a bumpy torus sampled ring by ring in file order (each ring of one minor angle spans the
            whole scene, so rows are not spatially sorted), queries near its surface

Cloud and queries are made on the workers and persisted there (chunks of 1,250,000 and 250,000
rows); this process gets a copy for the in-process tree. Times: the build (partitioning and the
pieces' trees, against KDTree(points)), and the queries with k = 1 and k = 8 (answers gathered
into this process, against tree.query), medians of ROUNDS; the mean pieces each query visits; and the peak memory of each worker
process. Then
voxel_down_sample against one VecList, where VecList has it. Writes build/bench/bench_dask_tree.json.

  python3 bench/bench_dask_tree.py [N] [--rounds R] [--no-local]
  (--no-local: the cluster alone, for clouds too large to copy into this process)
"""

import argparse
import resource
import sys
import time

import cloudpickle
import dask
import dask.array as da
import distributed
import numpy as np

import lumeric_dask
from cluster import local_cluster
from common import save
from lumeric_py import KDTree, VecList

CLOUD_CHUNK = 1_250_000
QUERY_CHUNK = 250_000
M = 1_000_000

cloudpickle.register_pickle_by_value(sys.modules[__name__])  # client.run's functions travel by value


def peak_rss():
    """This process's peak resident memory in bytes (run on a worker)."""
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def torus(block_info=None):
    """One chunk of the scan-like cloud: rings of one minor angle each, in file order."""
    (start, stop), _ = block_info[None]["array-location"]
    i = np.arange(start, stop)
    ring, along = i // 4096, (i % 4096) * (2 * np.pi / 4096)
    minor = ring * 2.399963  # golden-angle steps: successive rings far apart on the tube
    rng = np.random.default_rng(start)
    radius = 0.3 + 0.02 * np.sin(7 * along) * np.cos(5 * minor) + rng.normal(0, 1e-3, len(i))
    return np.stack([(1 + radius * np.cos(minor)) * np.cos(along), (1 + radius * np.cos(minor)) * np.sin(along),
                     radius * np.sin(minor)], axis=1)


def clouds(n):
    uniform = da.random.default_rng(12).uniform(0.0, 1.0, (n, 3), chunks=(CLOUD_CHUNK, 3))
    scan = da.map_blocks(torus, dtype=np.float64, chunks=((CLOUD_CHUNK,) * (n // CLOUD_CHUNK) +
                                                          ((n % CLOUD_CHUNK,) if n % CLOUD_CHUNK else ()), (3,)))
    uniform_queries = da.random.default_rng(13).uniform(0.0, 1.0, (M, 3), chunks=(QUERY_CHUNK, 3))
    near = da.random.default_rng(14).normal(0.0, 0.01, (M, 3), chunks=(QUERY_CHUNK, 3))
    scan_queries = scan[:: max(1, n // M)][:M].rechunk((QUERY_CHUNK, 3)) + near
    return {"uniform": (uniform, uniform_queries), "scan": (scan, scan_queries)}


def timed(run):
    start = time.perf_counter()
    result = run()
    return time.perf_counter() - start, result


def median(values):
    return sorted(values)[len(values) // 2]


def measure(client, name, cloud, queries, rounds, local):
    cloud, queries = client.persist(cloud), client.persist(queries)
    distributed.wait([cloud, queries])
    row = {"cloud": name}
    builds, tree = [], None
    for _ in range(rounds):
        del tree
        seconds, tree = timed(lambda: lumeric_dask.KDTree(cloud))
        builds.append(seconds)
    row["pieces"] = len(tree.piece_sizes)
    row["build"] = median(builds)
    if local:
        points, x = cloud.compute(), queries.compute()
        row["local build"] = median([timed(lambda: KDTree(points))[0] for _ in range(rounds)])
        one = KDTree(points)
    for k in (1, 8):
        runs = []
        for _ in range(rounds):
            seconds, (d, i, visits) = timed(lambda: dask.compute(*tree.query(queries, k), tree.pieces_visited(queries, k)))
            runs.append(seconds)
        row[f"query k={k}"] = median(runs)
        row[f"visits k={k}"] = float(visits.mean())
        if local:
            row[f"local query k={k}"] = median([timed(lambda: one.query(x, k))[0] for _ in range(rounds)])
            want = [np.asarray(a) for a in one.query(x, k)]
            assert d.tobytes() == want[0].tobytes() and i.tobytes() == want[1].tobytes(), "cluster and one tree differ"
    del tree
    return row


def voxels(client, cloud, rounds):
    """Seconds of voxel_down_sample on the cluster (the result kept there) and of one VecList."""
    if not hasattr(VecList, "voxel_down_sample"):
        return None
    cloud = client.persist(cloud)
    distributed.wait(cloud)
    size = 0.02  # about 10% of 10,000,000 uniform points keep a voxel of their own
    ours = median([timed(lambda: distributed.wait(client.persist(lumeric_dask.voxel_down_sample(cloud, size))))[0]
                   for _ in range(rounds)])
    points = VecList.from_array(cloud.compute())
    return {"cluster": ours, "one VecList": median([timed(lambda: points.voxel_down_sample(size))[0]
                                                   for _ in range(rounds)])}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("n", nargs="?", type=int, default=10_000_000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--no-local", action="store_true")
    args = parser.parse_args()
    local = not args.no_local
    print(f"lumeric_dask.KDTree: {args.n:,} points in chunks of {CLOUD_CHUNK:,}, {M:,} queries in chunks of "
          f"{QUERY_CHUNK:,} (dask {dask.__version__}; median of {args.rounds} rounds)")
    rows = []
    with local_cluster() as client:
        for name, (cloud, queries) in clouds(args.n).items():
            rows.append(measure(client, name, cloud, queries, args.rounds, local))
        peaks = client.run(peak_rss)
        vox = voxels(client, clouds(args.n)["uniform"][0], args.rounds) if local else None
    header = f"{'cloud':<9}{'pieces':>7}{'what':>12}{'cluster s':>11}{'one tree s':>12}{'ratio':>7}{'visits':>8}"
    print(header + "\n" + "-" * len(header))
    for row in rows:
        for what in ("build", "query k=1", "query k=8"):
            base = row.get(f"local {what}")
            visits = row.get(f"visits {what[-3:]}", "") if what != "build" else ""
            print(f"{row['cloud']:<9}{row['pieces']:>7}{what:>12}{row[what]:>11.2f}"
                  f"{base if base is not None else float('nan'):>12.2f}"
                  f"{row[what] / base if base else float('nan'):>7.2f}"
                  f"{visits if visits == '' else format(visits, '.3f'):>8}")
    print("visits = mean pieces visited per query (its home included); ratio = cluster / one tree "
          "(goals: query <= 1.5, build <= 2)")
    print("Peak memory per worker: " + ", ".join(f"{p / 2**30:.2f} GiB" for p in peaks.values()))
    if vox:
        print(f"voxel_down_sample: cluster {vox['cluster']:.2f} s, one VecList {vox['one VecList']:.2f} s, "
              f"ratio {vox['cluster'] / vox['one VecList']:.2f} (goal <= 2)")
    else:
        print("voxel_down_sample: skipped (VecList has no voxel_down_sample here, or --no-local)")
    save("n", args.n)
    save("rows", rows)
    save("worker_peak_bytes", list(peaks.values()))
    save("voxels", vox)


if __name__ == "__main__":
    main()
