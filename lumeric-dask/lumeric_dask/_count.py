"""count_radius over a partitioned cloud, its graph and its tasks: each query visits only the
pieces whose boxes come within r of it, and its counts there are summed."""

import numpy as np

from ._query import bound_keys, route


def counts_in(tree, queries, r):
    """The tree's count of points within r of each query."""
    return np.asarray(tree.count_radius(queries, r), np.int64)


def count_visit(piece, routed, j, r, table):
    """(queries visiting piece j, their counts there, the chunk's length): a piece whose bound is
    farther than r holds no point within r."""
    queries, _ = routed
    with np.errstate(invalid="ignore"):
        at = np.flatnonzero(~(np.sqrt(bound_keys(queries, table, slice(j, j + 1))[:, 0]) > r))
    return at, counts_in(piece.tree, queries[at], r), len(queries)


def total(*visits):
    counts = np.zeros(visits[0][2], np.int64)
    for at, found, _ in visits:
        counts[at] += found
    return counts


def count_radius(pieces, table, queries, r):
    import dask.array as da
    from dask import delayed

    results = []
    for part, m in zip(queries.to_delayed(optimize_graph=False).ravel(), queries.chunks[0]):
        routed = delayed(route, pure=True)(part, table)
        found = delayed(total, pure=True)(*[delayed(count_visit, pure=True)(p, routed, j, r, table)
                                           for j, p in enumerate(pieces)])
        results.append(da.from_delayed(found, (m,), dtype=np.int64, meta=np.empty((0,), np.int64)))
    return da.concatenate(results)
