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
    """The piece's k best for each query, as its tree reports them: (distances, global indices,
    local indices), the piece's size marking padding in the local ones."""
    tree, _, indices = piece
    m = len(queries)
    distances, local = (np.asarray(a).reshape(m, k) for a in tree.query(queries, k))
    padding = local == len(tree)
    found = np.where(padding, n, indices[np.where(padding, 0, local)]) if len(tree) else np.full((m, k), n)
    return distances, found, local


def ranks(piece, queries, local):
    """The ranks of a piece's candidates: the keys its tree ranked them by, recomputed from the two
    rows (only where candidates of several pieces meet: the ranks within a piece are its tree's)."""
    _, rows, _ = piece
    padding = local == len(rows)
    if not len(rows):
        return np.full(local.shape, PADDING_RANK)
    keys = squared_distances(rows[np.where(padding, 0, local)], queries)
    return np.where(padding, PADDING_RANK, rank_of(keys))


def deep_inside(queries, kth, lo, hi):
    """Which queries are so deep inside the box [lo, hi] that no piece whose box lies beyond one of
    its faces can hold a point ranking with their k-th: the gap g to such a box along that axis is
    at least the query's margin m to the face (rounding is monotone), so every key there is at
    least m·m, which ranks above the k-th."""
    with np.errstate(invalid="ignore"):
        margin = np.minimum.reduce([np.minimum(queries[:, a] - lo[a], hi[a] - queries[:, a]) for a in range(3)])
        return (margin >= 0) & (rank_of(margin * margin) > kth[:, 0])


def needed(queries, kth, kth_index, r, table, pieces=slice(None)):
    """(m, pieces): whether each query must visit each piece: the piece's bound ranks ahead of its
    k-th, or equal to it with a first global index below the k-th's, and is within r."""
    keys = bound_keys(queries, table, pieces)
    bound = rank_of(keys)
    need = (bound < kth) | ((bound == kth) & (table.first[pieces] < kth_index))
    with np.errstate(invalid="ignore"):
        return need & ~(np.sqrt(keys) > r)  # every point there is farther than max_distance


def home_visit(piece, routed, j, k, n, r, table):
    """The k best of home piece j for the chunk's queries at home there, and the other pieces
    each of them must visit. The others hold no point that ranks ahead of its k-th. Queries deep
    inside the home box are checked only against the boxes that reach into it."""
    queries, home = routed
    at = np.flatnonzero(home == j)
    queries = queries[at]
    distances, found, local = candidates(piece, queries, k, n)
    kth, kth_index = ranks(piece, queries, local[:, -1:]), found[:, -1:]
    deep = deep_inside(queries, kth, table.box_lo[j], table.box_hi[j])
    need = np.zeros((len(queries), len(table.first)), bool)
    rest = np.flatnonzero(~deep)
    need[rest] = needed(queries[rest], kth[rest], kth_index[rest], r, table)
    near = np.flatnonzero(table.overlap[j])
    if len(near):
        deep = np.flatnonzero(deep)
        need[np.ix_(deep, near)] = needed(queries[deep], kth[deep], kth_index[deep], r, table, near)
    need[:, j] = False
    some = need.any(axis=1)
    meeting = (at[some], distances[some], found[some], ranks(piece, queries[some], local[some]))
    return (at, distances, found, meeting), (at[some], queries[some], need[some])


def second_visit(piece, j, k, n, *needs):
    """Piece j's k best, ranked, for the queries from other homes that must visit it."""
    at = np.concatenate([a[need[:, j]] for a, _, need in needs]) if needs else np.empty(0, np.intp)
    queries = np.concatenate([q[need[:, j]] for _, q, need in needs]) if needs else np.empty((0, 3))
    distances, found, local = candidates(piece, queries, k, n)
    return at, distances, found, ranks(piece, queries, local)


def finish(k, n, r, homes, seconds):
    """(distances, indices, pieces visited) of a query chunk: the home piece's k best, or, for a
    query that visited other pieces, the k first of all its candidates in the order (rank, global
    index); places farther than r (or NaN) padded with (inf, n)."""
    m = sum(len(at) for at, *_ in homes)
    distances, indices = np.empty((m, k)), np.empty((m, k), np.int64)
    for at, d, i, _ in homes:
        distances[at], indices[at] = d, i
    visits = np.ones(m, np.int64)
    sets = [h[3] for h in homes if len(h[3][0])] + [s for s in seconds if len(s[0])]
    if sets:
        for at, *_ in seconds:
            visits[at] += 1  # a piece's queries are distinct
        where = np.concatenate([np.repeat(at, k) for at, *_ in sets])
        flat = [np.concatenate([found[i].ravel() for found in sets]) for i in (1, 2, 3)]
        order = np.lexsort((flat[1], flat[2], where))
        who = np.unique(where)
        take = order[np.searchsorted(where[order], who)[:, None] + np.arange(k)]
        distances[who], indices[who] = flat[0][take], flat[1][take]
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
