"""The k nearest points over a partitioned cloud, its graph and its tasks.

Each query chunk is routed: every query goes first to its home piece (the piece of its cell on
the curve), whose k best give it a bound, the k-th (rank, global index); it then visits only the
other pieces whose boxes could hold a point ranking ahead of that bound, and its candidates are
merged by the same order. Only queries and (m, k) candidates move, never a piece or a tree.
"""

import math

import numpy as np

from ._partition import as_float64, lower_bounds, piece_of

# A candidate set for m queries is three (m, k) arrays: rank, distance as the tree reported it, and
# global index (the cloud's length for padding). The rank is the key (the squared distance) as an
# unsigned integer: the bits of a float that is +0.0 or more order as the float does, and a key is a
# sum of squares, never -0.0. A NaN key ranks after every number, the padding of a piece with fewer
# than k points after that. Each row of a candidate set is in the order (rank, global index), the
# order one tree over the whole cloud ranks by, since a piece holds its points in global order.

INF_RANK = np.uint64(0x7FF0_0000_0000_0000)  # the bits of inf
NAN_RANK = np.uint64(0x7FF8_0000_0000_0000)  # above them
PADDING_RANK = np.uint64(0xFFFF_FFFF_FFFF_FFFF)


def rank_of(keys):
    return np.where(np.isnan(keys), NAN_RANK, keys.view(np.uint64))


def squared_distances(points, queries):
    """points[j, i].distance_squared(queries[j]) for (m, k, 3) and (m, 3) float64 arrays, to the
    bit: (dx·dx + dy·dy) + dz·dz with d = point - query, each operation rounded once, in that
    order (numpy's element-wise operations neither fuse nor regroup)."""
    with np.errstate(invalid="ignore", over="ignore"):  # inf - inf and overflow: NaN and inf keys
        d = points - queries[:, None]
        return (d[..., 0] * d[..., 0] + d[..., 1] * d[..., 1]) + d[..., 2] * d[..., 2]


def bound_keys(queries, table, pieces=slice(None)):
    """(m, pieces): keys that no point of each piece has from each query; inf for the piece of
    points that are not finite, whose keys are all inf or NaN."""
    keys = lower_bounds(queries, table.box_lo[pieces], table.box_hi[pieces])
    keys[:, table.special[pieces]] = np.inf
    return keys


def route(part, table):
    """A query chunk as float64 rows, with the home piece of each row."""
    queries = as_float64(part)
    return queries, table.home[piece_of(queries, table.lo, table.hi, table.starts)]


def candidates(piece, queries, k, n):
    """The piece's k best for each query, ranked by the keys its tree ranked them by, recomputed
    from the two rows, with global indices."""
    tree, rows, indices = piece
    m = len(queries)
    distances, local = (np.asarray(a).reshape(m, k) for a in tree.query(queries, k))
    padding = local == len(tree)
    if not len(tree):
        return np.full((m, k), PADDING_RANK), distances, np.full((m, k), n, np.int64)
    at = np.where(padding, 0, local)
    keys = squared_distances(rows[at], queries)
    return np.where(padding, PADDING_RANK, rank_of(keys)), distances, np.where(padding, n, indices[at])


def home_visit(piece, routed, j, k, n, r, table):
    """The k best of home piece j for the chunk's queries at home there, and the other pieces
    each of them must visit: those whose bound ranks ahead of its k-th, or equal to it with a
    first global index below the k-th's. The others hold no point that ranks ahead of it."""
    queries, home = routed
    at = np.flatnonzero(home == j)
    queries = queries[at]
    found = candidates(piece, queries, k, n)
    keys = bound_keys(queries, table)
    bound, kth, kth_index = rank_of(keys), found[0][:, -1:], found[2][:, -1:]
    need = (bound < kth) | ((bound == kth) & (table.first < kth_index))
    with np.errstate(invalid="ignore"):
        need &= ~(np.sqrt(keys) > r)  # every point there is farther than max_distance
    need[:, j] = False
    some = need.any(axis=1)
    return (at, found), (at[some], queries[some], need[some])


def second_visit(piece, j, k, n, *needs):
    """Piece j's k best for the queries from other homes that must visit it."""
    at = np.concatenate([a[need[:, j]] for a, _, need in needs]) if needs else np.empty(0, np.intp)
    queries = np.concatenate([q[need[:, j]] for _, q, need in needs]) if needs else np.empty((0, 3))
    return at, candidates(piece, queries, k, n)


def finish(k, n, r, homes, seconds):
    """(distances, indices, pieces visited) of a query chunk from its candidates: the k first in
    the order (rank, global index) of each query's home and second candidates; places farther
    than r (or NaN) padded with (inf, n)."""
    m = sum(len(at) for at, _ in homes)
    rank, distances, indices = np.empty((m, k), np.uint64), np.empty((m, k)), np.empty((m, k), np.int64)
    for at, found in homes:
        rank[at], distances[at], indices[at] = found
    visits = np.ones(m, np.int64)
    extra = [s for s in seconds if len(s[0])]
    if extra:
        again = np.concatenate([at for at, _ in extra])
        np.add.at(visits, again, 1)
        who = np.unique(again)
        sets = [(who, (rank[who], distances[who], indices[who]))] + extra
        where = np.concatenate([np.repeat(at, k) for at, _ in sets])
        flat = [np.concatenate([found[i].ravel() for _, found in sets]) for i in range(3)]
        order = np.lexsort((flat[2], flat[0], where))
        take = np.searchsorted(where[order], who)[:, None] + np.arange(k)
        rank[who], distances[who], indices[who] = (a[order][take] for a in flat)
    if not math.isinf(r):
        far = ~(distances <= r)
        distances[far], indices[far] = np.inf, n
    if k == 1:
        return distances.ravel(), indices.ravel(), visits
    return distances, indices, visits


def query(pieces, table, n, queries, k, r):
    """Lazy (distances, indices, pieces visited) of every query row."""
    import dask.array as da
    from dask import delayed

    results = []
    for part, m in zip(queries.to_delayed(optimize_graph=False).ravel(), queries.chunks[0]):
        routed = delayed(route, pure=True)(part, table)
        visits = [delayed(home_visit, pure=True, nout=2)(p, routed, j, k, n, r, table) for j, p in enumerate(pieces)]
        seconds = [delayed(second_visit, pure=True)(p, j, k, n, *[v[1] for i, v in enumerate(visits) if i != j])
                   for j, p in enumerate(pieces)]
        results.append(delayed(finish, pure=True, nout=3)(k, n, r, [v[0] for v in visits], seconds))
    shape = (lambda m: (m,)) if k == 1 else (lambda m: (m, k))
    return tuple(da.concatenate([da.from_delayed(found[i], shape(m) if i < 2 else (m,), dtype=dtype,
                                                 meta=np.empty((0,) * (len(shape(m)) if i < 2 else 1), dtype))
                                 for found, m in zip(results, queries.chunks[0])])
                 for i, dtype in enumerate((np.float64, np.int64, np.int64)))
