"""query over a chunked cloud: one tree per cloud chunk, built once where the chunk lives and
shared by every query chunk; each query chunk's k best are found in every tree and merged by a
tree reduction that moves only (m, k) candidates, never the cloud."""

import itertools
import math

import numpy as np

from . import _blocks

FAN_IN = 8  # candidate sets combined per merging task
QUERY_ROWS = 250_000  # rows per chunk when the queries come as one array in memory


def query(rows, queries, k):
    """Lazy (distances, indices) of the k nearest points of the cloud to every query row."""
    import dask.array as da
    from dask import delayed

    n = rows.shape[0]
    if math.isnan(n):
        raise ValueError("query() needs the cloud's chunk sizes: call cloud.compute_chunk_sizes() first")
    if not isinstance(queries, da.Array):
        queries = da.from_array(queries, chunks=(QUERY_ROWS, 3))
    starts = itertools.accumulate(rows.chunks[0][:-1], initial=0)
    # Unoptimised: the optimised blocks of a persisted cloud reach the tasks as bare keys.
    blocks = rows.to_delayed(optimize_graph=False).ravel()
    trees = [(delayed(_blocks.tree_of, pure=True)(block), block, start) for block, start in zip(blocks, starts)]
    distances, indices = [], []
    for part, m in zip(queries.to_delayed(optimize_graph=False).ravel(), queries.chunks[0]):
        level = [delayed(_blocks.nearest_in_tree, pure=True)(tree, block, part, k, start, n)
                 for tree, block, start in trees]
        while len(level) > 1:
            level = [delayed(_blocks.best_of, pure=True)(k, *level[j:j + FAN_IN]) for j in range(0, len(level), FAN_IN)]
        found = delayed(_blocks.answers, pure=True, nout=2)(level[0], k)
        shape = (m,) if k == 1 else (m, k)
        distances.append(da.from_delayed(found[0], shape, dtype=np.float64, meta=np.empty((0,) * len(shape))))
        indices.append(da.from_delayed(found[1], shape, dtype=np.int64,
                                       meta=np.empty((0,) * len(shape), np.int64)))
    return da.concatenate(distances), da.concatenate(indices)
