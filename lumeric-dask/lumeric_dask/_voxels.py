"""voxel_down_sample over a chunked cloud, its graph and its tasks.

The grid's corner is the finite points' lowest coordinates less half a voxel, found by one pass
over the blocks (small results only). Each block then sends each of its finite points, with its
voxel, to the slab of voxels (a range of the first voxel index) it falls in; each slab concatenates
its parts in block order, so its points stand in ascending global index, and averages each voxel
there. Slabs are in the order of their ranges, each sorted by voxel, so the concatenation is in
voxel order: the cloud moves by voxel and is never gathered.
"""

import math

import numpy as np

from ._partition import as_float64, finite_box

LIMIT = 2**62  # the largest voxel index
ROUNDS = 64  # voxels with at most this many points are summed side by side, the rest one by one


def voxels_of(rows, corner, size):
    """floor((p - corner) / size) per axis, evaluated in that order, as int64."""
    with np.errstate(invalid="ignore", over="ignore"):
        return np.floor((rows - corner) / size).astype(np.int64)


def split_block(block, corner, size, slabs, top):
    """The block's finite points in each slab, in index order, with their voxels; slab s holds the
    first voxel indices from top * s / slabs on (top = the largest first index, plus one)."""
    rows = as_float64(block)
    if not np.isfinite(rows).all():
        rows = rows[np.isfinite(rows).all(axis=1)]
    voxels = voxels_of(rows, corner, size)
    slab = np.minimum((voxels[:, 0] * (slabs / top)).astype(np.int64), slabs - 1)  # monotone in the index
    order = np.argsort(slab, kind="stable")
    bounds = np.searchsorted(slab[order], np.arange(slabs + 1))
    return tuple((voxels[order[a:b]], rows[order[a:b]]) for a, b in zip(bounds[:-1], bounds[1:]))


def running_sums(values, starts, counts):
    """Each group's plain running sum, from 0.0, over its rows in order (groups are runs of rows
    starting at starts): the sum voxel_down_sample defines, which numpy's pairwise sums are not."""
    sums = np.zeros((len(starts), values.shape[1]))
    small = np.flatnonzero(counts <= ROUNDS)
    small = small[np.argsort(-counts[small], kind="stable")]
    fewer = -counts[small]  # ascending: the groups with more than j rows are the first ones
    for j in range(int(-fewer[0]) if len(small) else 0):
        group = small[:np.searchsorted(fewer, -j, side="left")]
        sums[group] += values[starts[group] + j]
    for g in np.flatnonzero(counts > ROUNDS):
        rows = np.concatenate([np.zeros((1, values.shape[1])), values[starts[g]:starts[g] + counts[g]]])
        sums[g] = np.add.accumulate(rows, axis=0)[-1]  # accumulate adds one row after another
    return sums


def slab_means(*parts):
    """The (v, 3) means of the slab's voxels, in voxel order."""
    voxels = np.concatenate([p[0] for p in parts]) if parts else np.empty((0, 3), np.int64)
    rows = np.concatenate([p[1] for p in parts]) if parts else np.empty((0, 3))
    order = np.lexsort((voxels[:, 2], voxels[:, 1], voxels[:, 0]))  # stable: index order within a voxel
    voxels, rows = voxels[order], rows[order]
    new = np.ones(len(voxels), bool)
    new[1:] = (voxels[1:] != voxels[:-1]).any(axis=1)
    starts = np.flatnonzero(new)
    counts = np.diff(np.append(starts, len(voxels)))
    return running_sums(rows, starts, counts) / counts[:, None]


def voxel_down_sample(rows, size):
    import dask
    import dask.array as da
    from dask import delayed

    blocks = rows.to_delayed(optimize_graph=False).ravel()
    boxes = dask.compute(*[delayed(finite_box, pure=True)(b) for b in blocks])
    lo = np.min([b[0] for b in boxes], axis=0) if boxes else np.full(3, np.inf)
    hi = np.max([b[1] for b in boxes], axis=0) if boxes else np.full(3, -np.inf)
    if not np.isfinite(lo).all():  # no finite point
        return da.from_array(np.empty((0, 3)), chunks=(1, 3))[:0]
    corner = lo - size * 0.5
    with np.errstate(over="ignore"):
        highest = np.floor((hi - corner) / size)  # the largest index on each axis
    if not (highest <= LIMIT).all():
        raise ValueError(f"voxel_down_sample() size {size!r} is too small for the cloud's extent "
                         f"{tuple((hi - lo).tolist())}: a voxel index would exceed 2**62")
    slabs = max(1, min(len(blocks), int(highest[0]) + 1))  # as many slabs as blocks, or first indices
    parts = [delayed(split_block, pure=True, nout=slabs)(b, corner, size, slabs, highest[0] + 1.0) for b in blocks]
    means = [delayed(slab_means, pure=True)(*[p[s] for p in parts]) for s in range(slabs)]
    return da.concatenate([da.from_delayed(m, (math.nan, 3), dtype=np.float64, meta=np.empty((0, 3)))
                           for m in means])
