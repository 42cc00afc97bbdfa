"""minimum_distance_to over a chunked cloud: the list's two passes (every stride-th point, then the
window around the winner), each one computation: a tree reduction over chunks that moves one
candidate row per chunk, never the cloud. Both passes rank candidates through the list itself, so
the result is the one a single VecList over the whole cloud gives, for every chunking."""

import itertools
import math

import numpy as np

from lumeric_py import VecList

FAN_IN = 32  # candidates combined per task of the tree: a combination is only a few rows


def minimum_distance_to(rows, other, stride):
    n = rows.shape[0]
    if math.isnan(n):
        raise ValueError("minimum_distance_to() needs the cloud's chunk sizes: "
                         "call cloud.compute_chunk_sizes() first")
    if n == 0:
        VecList.empty().minimum_distance_to(other, stride)  # raises the list's own error
    index, row = _winner(rows, other, 0, stride)
    if stride > 1:
        # With stride 1 the window holds only index - 1 and index, both already beaten in the
        # coarse pass: the refining pass could only find the same winner again.
        start = index - stride if index >= stride else 0
        index, row = _winner(rows[start:min(index + stride, n)], other, start, 1)
    return index, distance_of(row, other)


def _winner(rows, other, offset, step):
    """(index, row) of the nearest among the rows whose global index is a multiple of step; the
    first of the rows has global index offset."""
    import dask
    from dask import delayed

    starts = itertools.accumulate(rows.chunks[0][:-1], initial=offset)
    # Unoptimised: the optimised blocks of a persisted cloud reach the tasks as bare keys.
    blocks = rows.to_delayed(optimize_graph=False).ravel()
    level = [delayed(nearest_in_block, pure=True)(block, start, step, other)
             for block, start in zip(blocks, starts)]
    while len(level) > 1:
        level = [delayed(nearest_of, pure=True)(other, *level[k:k + FAN_IN])
                 for k in range(0, len(level), FAN_IN)]
    (found,) = dask.compute(level[0])
    return found


# -- The tasks, wherever the scheduler runs them: candidates are (global index, float64 row) or None --


def nearest_in_block(block, offset, step, other):
    """The winning candidate among the block's rows whose global index is a multiple of step
    (the block's first row has global index offset)."""
    first = -offset % step
    samples = VecList.from_array(block[first::step])
    if len(samples) == 0:
        return None
    j, _ = samples.minimum_distance_to(other, 1)
    return offset + first + j * step, np.asarray(samples)[j].copy()


def nearest_of(other, *candidates):
    """The winner among candidates given in increasing index order. The list itself ranks their
    rows (a search with stride 1 is a plain minimum, ties to the earliest), so the order of keys,
    NaN included, is exactly the one of a search over the whole cloud."""
    found = [c for c in candidates if c is not None]
    if not found:
        return None
    j, _ = VecList.from_array(np.stack([row for _, row in found])).minimum_distance_to(other, 1)
    return found[j]


def distance_of(row, other):
    """The distance the list reports for a winning row."""
    return VecList.from_array(row.reshape(1, 3)).minimum_distance_to(other, 1)[1]
