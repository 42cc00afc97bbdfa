"""Cutting a chunked cloud into spatially compact pieces, each with its own tree, where it lives.

The points are ordered along a Morton curve over the bounding box of the cloud's finite points
(a grid of 2**BITS cells per axis), and the curve is cut into pieces of about equal size, at cell
boundaries, from the count of points in each cell. Points with a coordinate that is not finite
go to one piece of their own, the last: from any query their keys are inf or NaN, so they rank
after every finite key, and the routing gives that piece a bound of inf.

Every piece keeps its points in ascending global index, so its tree's ties by local index are
ties by global index, and carries the global index of each point. Three passes over the cloud:
its box, the cells' counts (both small results, brought to the client), then the split, each
block sending each piece only its own rows, never the cloud to one place.
"""

import itertools
import sys

import numpy as np

from lumeric_py import KDTree, VecList

BITS = 6  # cells per axis 2**6: 262,144 cells, counted per block in 2 MiB
FAN_IN = 8  # counts summed per task
SAMPLE = 100_000  # rows per block whose cells are counted
SLACK = 0.25  # how far from an even share a piece may end, as a share

# A 6-bit number with two zero bits after each of its bits: SPREAD[q] << 2 | SPREAD[r] << 1 | SPREAD[s]
# interleaves three of them into one Morton cell number.
SPREAD = np.array([sum(((q >> b) & 1) << (3 * b) for b in range(BITS)) for q in range(1 << BITS)], np.int64)


def as_float64(rows):
    """The rows as the tree holds them: converted as VecList.from_array converts."""
    return rows if rows.dtype == np.float64 and rows.dtype.isnative else np.asarray(VecList.from_array(rows))


def lower_bounds(queries, lo, hi):
    """(m, p): for each query and box, a key no point in the box has from the query. Rounding is
    monotone, so with the gap g = lo - q (or q - hi) beside the box, every point's p - q is at least
    g in size as rounded, and its key (dx·dx + dy·dy) + dz·dz, rounded step by step in that order,
    is at least the same sum of the gaps. A NaN query gets NaN, as every key it has."""
    with np.errstate(invalid="ignore", over="ignore"):
        q = queries[:, None, :]
        gap = np.maximum(np.maximum(lo - q, q - hi), 0.0)
        return (gap[..., 0] * gap[..., 0] + gap[..., 1] * gap[..., 1]) + gap[..., 2] * gap[..., 2]


def finite_box(block):
    """(lowest, highest) coordinates of the block's finite points; (inf, -inf) with none."""
    rows = as_float64(block)
    if not np.isfinite(rows).all():
        rows = rows[np.isfinite(rows).all(axis=1)]
    if len(rows) == 0:
        return np.full(3, np.inf), np.full(3, -np.inf)
    # Column by column: numpy reduces a strided column far faster than the rows of an (n, 3) array.
    return np.array([rows[:, a].min() for a in range(3)]), np.array([rows[:, a].max() for a in range(3)])


def cells(rows, lo, hi):
    """The Morton cell of each float64 row over the box [lo, hi], rows outside it clamped to the
    nearest cell; -1 for a row with a coordinate that is not finite. Cells only balance the pieces
    and choose a query's first piece: answers never depend on them."""
    finite = np.ones(len(rows), bool) if np.isfinite(rows).all() else np.isfinite(rows).all(axis=1)
    with np.errstate(invalid="ignore", over="ignore", divide="ignore"):
        scale = np.where(hi > lo, (1 << BITS) / (hi - lo), 0.0)
        q = np.subtract(rows, lo)
        q *= scale
        np.floor(q, out=q)
        np.clip(q, 0, (1 << BITS) - 1, out=q)
    np.nan_to_num(q, copy=False)  # inf * 0 for a flat box, or an empty one
    q = q.astype(np.intp)
    cell = (SPREAD[q[:, 0]] << 2) | (SPREAD[q[:, 1]] << 1) | SPREAD[q[:, 2]]
    return cell if finite.all() else np.where(finite, cell, -1)


def cell_counts(block, lo, hi):
    """The number of the block's finite points in each cell, from a sample of at most about
    SAMPLE rows: enough to balance the pieces."""
    rows = as_float64(block[::max(1, len(block) // SAMPLE)])
    c = cells(rows, lo, hi)
    return np.bincount(c[c >= 0], minlength=1 << (3 * BITS))


def summed(*counts):
    return np.sum(counts, axis=0)


def first_cells(counts, pieces):
    """The first cell of each of `pieces` runs of cells holding about equal numbers of points. Each
    cut is the coarsest boundary of the curve within SLACK of an even share: a run that starts and
    ends on coarse boundaries fills whole aligned blocks of cells, so its box is tight."""
    running = np.concatenate([[0], np.cumsum(counts)])  # running[c]: points in the cells before c
    share = running[-1] / pieces
    starts = [0]
    for target in np.arange(1, pieces) * share:
        near = np.arange(np.searchsorted(running, target - SLACK * share, side="left"),
                         np.searchsorted(running, target + SLACK * share, side="right"))
        near = near[near > starts[-1]] if len(near) else near
        if not len(near):
            starts.append(max(starts[-1], int(np.searchsorted(running, target, side="left"))))
            continue
        coarseness = (near & -near).astype(np.float64)  # the largest power of two dividing the cell
        closeness = -np.abs(running[near] - target)
        starts.append(int(near[np.lexsort((closeness, coarseness))[-1]]))
    return np.array(starts)


def piece_of(rows, lo, hi, starts):
    """The piece of each float64 row: the run of cells its cell is in, the last piece for a row
    with a coordinate that is not finite."""
    piece = np.searchsorted(starts, cells(rows, lo, hi), side="right") - 1
    return np.where(piece < 0, len(starts), piece)


def split_block(block, offset, lo, hi, starts):
    """The block's rows of each piece, with their global indices, ascending (the block's first row
    has global index offset)."""
    rows = as_float64(block)
    piece = piece_of(rows, lo, hi, starts).astype(np.int16 if len(starts) < 32_000 else np.int32)
    order = np.argsort(piece, kind="stable")  # stable: each piece's rows stay in index order
    bounds = np.searchsorted(piece[order], np.arange(len(starts) + 2))
    return tuple((rows[order[a:b]], offset + order[a:b]) for a, b in itertools.pairwise(bounds))


class Piece:
    """A piece: its tree, its float64 rows in ascending global index, and their global indices."""

    __slots__ = ("tree", "rows", "indices")

    def __init__(self, tree, rows, indices):
        self.tree, self.rows, self.indices = tree, rows, indices

    def __iter__(self):
        return iter((self.tree, self.rows, self.indices))

    def __reduce__(self):
        return Piece, (self.tree, self.rows, self.indices)

    def __sizeof__(self):
        # What it costs to hold, and so to move: dask's scheduler, which measures results by
        # sys.getsizeof, then runs a piece's tasks where it lives rather than carry it elsewhere.
        return self.rows.nbytes + self.indices.nbytes + TREE_BYTES * len(self.rows)


TREE_BYTES = 64  # per point: the tree's copy of the points, their order and its nodes, about


def build_piece(*parts):
    """A piece from its parts of consecutive blocks."""
    rows = np.concatenate([p[0] for p in parts]) if parts else np.empty((0, 3))
    indices = np.concatenate([p[1] for p in parts]) if parts else np.empty(0, np.int64)
    return Piece(KDTree(rows), rows, indices.astype(np.int64, copy=False))


def summary(piece):
    """What the client keeps of a piece: its box (of finite points), size and first global index."""
    _, rows, indices = piece
    lo, hi = finite_box(rows)
    return lo, hi, len(rows), int(indices[0]) if len(indices) else -1


def partition(rows, pieces):
    """The persisted pieces of a chunked cloud (pieces of finite points, then the piece of the
    others) and the tables the client routes by: box of the cloud, first cells, and each piece's
    box, size and first global index."""
    import dask
    from dask import delayed
    blocks = rows.to_delayed(optimize_graph=False).ravel()  # unoptimised: persisted blocks stay keys
    boxes = dask.compute(*[delayed(finite_box, pure=True)(b) for b in blocks])
    lo = np.min([b[0] for b in boxes], axis=0) if boxes else np.full(3, np.inf)
    hi = np.max([b[1] for b in boxes], axis=0) if boxes else np.full(3, -np.inf)
    level = [delayed(cell_counts, pure=True)(b, lo, hi) for b in blocks]
    while len(level) > 1:
        level = [delayed(summed, pure=True)(*level[i:i + FAN_IN]) for i in range(0, len(level), FAN_IN)]
    counts = dask.compute(level[0])[0] if level else np.zeros(1 << (3 * BITS), np.int64)
    starts = first_cells(counts, pieces)
    offsets = itertools.accumulate(rows.chunks[0][:-1], initial=0)
    parts = [delayed(split_block, pure=True, nout=pieces + 1)(b, o, lo, hi, starts) for b, o in zip(blocks, offsets)]
    built = [delayed(build_piece, pure=True)(*[p[j] for p in parts]) for j in range(pieces + 1)]
    built = persisted(built)
    tables = dask.compute(*[delayed(summary, pure=True)(p) for p in built])
    return list(built), (lo, hi, starts), tables


def default_client():
    """The default distributed client, or None."""
    distributed = sys.modules.get("distributed")
    try:
        return distributed.default_client() if distributed else None
    except ValueError:  # no client
        return None


def persisted(pieces):
    """The pieces persisted; on a distributed cluster spread evenly over the workers, each worker
    preferred for its share (another takes over when it dies). The scheduler runs a piece's tasks
    where the piece lives unless that worker is much busier than another; an even share keeps it
    from moving pieces, each move costing the piece's tree built again."""
    import dask

    client = default_client()
    if client is None:
        return list(dask.persist(*pieces))
    workers = sorted(client.scheduler_info()["workers"])
    return [client.persist(p, workers=[workers[j % len(workers)]], allow_other_workers=True)
            for j, p in enumerate(pieces)]
