"""lumeric_dask.KDTree: a cloud cut into spatially compact pieces, one tree per piece, built and
kept where the piece lives; the client holds only each piece's box, size and first index."""

import math
from typing import NamedTuple

import numpy as np

from . import _checks, _count, _partition, _query

PIECE_ROWS = 1_000_000  # points per piece by default


class Table(NamedTuple):
    """What routing needs, sent with each task: the cloud's box and first cells (a query's home
    piece), and for each piece in the graph its box, whether it holds the points that are not
    finite, and its first global index."""

    lo: np.ndarray
    hi: np.ndarray
    starts: np.ndarray
    home: np.ndarray  # piece number on the curve (the last for non-finite rows) -> piece in the graph
    box_lo: np.ndarray
    box_hi: np.ndarray
    special: np.ndarray
    first: np.ndarray
    overlap: np.ndarray  # (pieces, pieces): whether a box reaches into another, beyond none of its faces


def _workers():
    """The worker count of the default distributed client, 1 without one."""
    client = _partition.default_client()
    return len(client.scheduler_info()["workers"]) if client else 1


class KDTree:
    """The k nearest points and the counts within a radius, over a cloud held in a dask array, bit
    for bit those of one lumeric_py.KDTree over the whole cloud, with indices into the whole cloud.

    cloud is a dask (n, 3) array, or anything VecList.from_array takes (then chunked). The points
    are cut along a Morton curve over the cloud's bounding box into `partitions` pieces of about
    equal size (default: about one per 1,000,000 points, a power of two, and at least one per
    worker of the default distributed client), plus one piece for points with a coordinate that is not finite. Each
    piece's tree is built where the piece lives and persisted; nothing is gathered."""

    def __init__(self, cloud, *, partitions=None):
        rows = _checks.cloud_of(cloud)
        n = rows.shape[0]
        if math.isnan(n):
            raise ValueError("KDTree() needs the cloud's chunk sizes: call cloud.compute_chunk_sizes() first")
        count = _checks.partitions(partitions)
        if count is None:
            # A power of two: on an even cloud the curve's even shares then end on aligned blocks.
            count = max(_workers(), 2 ** round(math.log2(max(n, 1) / PIECE_ROWS)) if n > PIECE_ROWS else 1)
        built, (lo, hi, starts), summaries = _partition.partition(rows, count)
        sizes = [s[2] for s in summaries]
        live = [j for j, size in enumerate(sizes) if size] or [0]
        # A query's home is the piece of its cell, or the nearest piece in the graph along the curve.
        home = np.array([min(range(len(live)), key=lambda i: abs(live[i] - j)) for j in range(count + 1)])
        self._n, self._sizes = n, [sizes[j] for j in live]
        self._pieces = [built[j] for j in live]
        box_lo, box_hi = np.array([summaries[j][0] for j in live]), np.array([summaries[j][1] for j in live])
        overlap = ~((box_lo[None] >= box_hi[:, None]) | (box_hi[None] <= box_lo[:, None])).any(axis=2)
        np.fill_diagonal(overlap, False)
        self._table = Table(lo, hi, starts, home, box_lo, box_hi, np.array([j == count for j in live]),
                            np.array([summaries[j][3] for j in live], np.int64), overlap)

    def __len__(self):
        return self._n

    def __repr__(self):
        return f"lumeric_dask.KDTree({self._n} points in {len(self._pieces)} pieces)"

    @property
    def piece_sizes(self):
        """The number of points in each piece, along the curve (the non-finite points' last)."""
        return list(self._sizes)

    def query(self, x, k=1, max_distance=math.inf):
        """Lazy (distances, indices) of the k nearest points to each row of x (a dask or in-memory
        (m, 3) array): float64 and int64, shape (m,) when k is 1, (m, k) otherwise. Places whose
        distance exceeds max_distance (or is NaN) are padded with (inf, n), as places beyond n."""
        return self._query(x, k, max_distance)[:2]

    def pieces_visited(self, x, k=1, max_distance=math.inf):
        """Lazy (m,) int64: how many pieces query(x, k, max_distance) visits for each row, its home
        included. Computed with the query's arrays, it shares their tasks."""
        return self._query(x, k, max_distance)[2]

    def count_radius(self, x, r):
        """Lazy (m,) int64: the number of points within distance r of each row of x."""
        queries, r = _checks.radius_arguments(x, r)
        return _count.count_radius(self._pieces, self._table, queries, r)

    def _query(self, x, k, max_distance):
        queries, k = _checks.tree_queries(x, k)
        r = _checks.max_distance(max_distance)
        return _query.query(self._pieces, self._table, self._n, queries, k, r)
