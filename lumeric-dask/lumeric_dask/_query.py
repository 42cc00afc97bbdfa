"""query over a chunked cloud, its graph and its tasks: one task per cloud chunk builds its tree
where the chunk lives and answers every query chunk with it; each query chunk's k best of all
chunks are then merged by a tree reduction that moves only (m, k) candidates, never the cloud or a
tree."""

import itertools
import math

import numpy as np

from lumeric_py import KDTree, VecList

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
    chunks = [delayed(nearest_in_chunk, pure=True)(block, k, start, n, *parts)
              for block, start in zip(rows.to_delayed(optimize_graph=False).ravel(), starts)]
    distances, indices = [], []
    for j, m in enumerate(queries.chunks[0]):
        level = [chunk[j] for chunk in chunks]
        while len(level) > 1:
            level = [delayed(best_of, pure=True)(k, *level[i:i + FAN_IN]) for i in range(0, len(level), FAN_IN)]
        found = delayed(answers, pure=True, nout=2)(level[0], k)
        shape = (m,) if k == 1 else (m, k)
        distances.append(da.from_delayed(found[0], shape, dtype=np.float64, meta=np.empty((0,) * len(shape))))
        indices.append(da.from_delayed(found[1], shape, dtype=np.int64,
                                       meta=np.empty((0,) * len(shape), np.int64)))
    return da.concatenate(distances), da.concatenate(indices)


# -- The tasks: one tree per cloud chunk, candidates merged per query chunk --
#
# A candidate set for m queries is three (m, k) arrays: rank, distance as the tree reported it, and
# global index (the cloud's length for padding). The rank is the key (the squared distance) as an
# unsigned integer: the bits of a float that is +0.0 or more order as the float does, and a key is a
# sum of squares, never -0.0. A NaN key ranks after every number, the padding of a chunk with fewer
# than k points after that. Each row of a candidate set is in the order (rank, global index).

NAN_RANK = np.uint64(0x7FF8_0000_0000_0000)  # above the bits of inf
PADDING_RANK = np.uint64(0xFFFF_FFFF_FFFF_FFFF)


def nearest_in_chunk(block, k, offset, n, *query_parts):
    """The candidate sets of one cloud chunk for every query chunk, from one tree built here, where
    the chunk lives. The tree never leaves this task: the queries, far fewer bytes than the cloud
    as a rule, come to it, and only (m, k) candidates go on."""
    tree = KDTree(block)
    return [nearest_in_tree(tree, block, queries, k, offset, n) for queries in query_parts]


def as_float64(rows):
    """The rows as the tree holds them: converted as VecList.from_array converts."""
    return rows if rows.dtype == np.float64 and rows.dtype.isnative else np.asarray(VecList.from_array(rows))


def squared_distances(points, queries):
    """points[j, i].distance_squared(queries[j]) for (m, k, 3) and (m, 3) float64 arrays, to the
    bit: (dx·dx + dy·dy) + dz·dz with d = point - query, each operation rounded once, in that
    order (numpy's element-wise operations neither fuse nor regroup)."""
    with np.errstate(invalid="ignore", over="ignore"):  # inf - inf and overflow: NaN and inf keys
        d = points - queries[:, None]
        return (d[..., 0] * d[..., 0] + d[..., 1] * d[..., 1]) + d[..., 2] * d[..., 2]


def nearest_in_tree(tree, block, queries, k, offset, n):
    """The k best candidates of one cloud chunk for each row of one query chunk, ranked by the keys
    the tree ranked them by, recomputed from the two rows."""
    queries = as_float64(queries)
    distances, indices = tree.query(queries, k)
    m = len(queries)
    distances = np.asarray(distances).reshape(m, k)
    indices = np.asarray(indices).reshape(m, k)
    padding = indices == len(tree)
    rows = as_float64(block[np.where(padding, 0, indices)].reshape(-1, 3)) if len(tree) else np.zeros((m * k, 3))
    keys = squared_distances(rows.reshape(m, k, 3), queries)
    rank = np.where(padding, PADDING_RANK, np.where(np.isnan(keys), NAN_RANK, keys.view(np.uint64)))
    return rank, distances, np.where(padding, n, indices + offset)


def best_of(k, *candidates):
    """The k best of the candidate sets of consecutive cloud chunks, in increasing index order, for
    the same queries, in the order (rank, global index).

    Each chunk's tree ranks its points by (key, NaN last, local index), which is this order
    restricted to the chunk, since global = offset + local. A point of the whole cloud's k best has
    fewer than k points of any chunk ahead of it, so it is among its own chunk's k best: the union
    of the chunks' k best holds the whole cloud's, and sorting the union by the same order gives
    them in order. Side by side, equal ranks stand in increasing index order (the chunks are
    consecutive, and each set is in order), so a stable sort by rank alone breaks ties by index.
    Merging on distances would be wrong: sqrt is monotone but not injective, so two different keys
    can give one distance, and only the keys decide between them."""
    rank, distances, indices = (np.concatenate(part, axis=1) for part in zip(*candidates))
    if k == 1:
        order = np.argmin(rank, axis=1)[:, None]  # the first of the least
    else:
        order = np.argsort(rank, axis=1, kind="stable")[:, :k]
    return tuple(np.take_along_axis(a, order, axis=1) for a in (rank, distances, indices))


def answers(candidates, k):
    """(distances, indices) of a query chunk from its merged candidates: (m,) when k is 1."""
    _, distances, indices = candidates
    return (distances.ravel(), indices.ravel()) if k == 1 else (distances, indices)
