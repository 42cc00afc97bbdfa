"""query over a chunked cloud: one task per cloud chunk builds its tree where the chunk lives and
answers every query chunk with it; each query chunk's k best of all chunks are then merged by a
tree reduction that moves only (m, k) candidates, never the cloud or a tree."""

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
    # Unoptimised: the optimised blocks of a persisted array reach the tasks as bare keys.
    parts = queries.to_delayed(optimize_graph=False).ravel()
    chunks = [delayed(_blocks.nearest_in_chunk, pure=True)(block, k, start, n, *parts)
              for block, start in zip(rows.to_delayed(optimize_graph=False).ravel(), starts)]
    distances, indices = [], []
    for j, m in enumerate(queries.chunks[0]):
        level = [chunk[j] for chunk in chunks]
        while len(level) > 1:
            level = [delayed(_blocks.best_of, pure=True)(k, *level[i:i + FAN_IN]) for i in range(0, len(level), FAN_IN)]
        found = delayed(_blocks.answers, pure=True, nout=2)(level[0], k)
        shape = (m,) if k == 1 else (m, k)
        distances.append(da.from_delayed(found[0], shape, dtype=np.float64, meta=np.empty((0,) * len(shape))))
        indices.append(da.from_delayed(found[1], shape, dtype=np.int64,
                                       meta=np.empty((0,) * len(shape), np.int64)))
    return da.concatenate(distances), da.concatenate(indices)
