"""The work done on one block of a cloud, wherever the scheduler runs it (this process, a thread,
a worker on another machine): numpy block -> VecList.from_array -> the operation -> numpy.

Tasks name their operation by a string and look it up here, so the graph carries only plain
values and the Vec3d / Quat arguments, and the functions pickle by reference.
"""

import operator

import numpy as np

from lumeric_py import KDTree, VecList


def _rotated(points, quat):
    # VecList.rotate works in place; a dask block result must be a new array.
    points.rotate(quat)
    return points


# Each operation as a call on one VecList, under the name of its lumeric_dask function.
OPERATIONS = {
    "normalize": VecList.normalize,
    "cross": VecList.cross,
    "collapse": VecList.collapse,
    "rotate": _rotated,
    "add": operator.add,
    "sub": operator.sub,
    "mul": operator.mul,
    "div": operator.truediv,
    "dot": VecList.dot,
    "magnitude": VecList.magnitude,
    "distance_to": VecList.distance_to,
    "distance_squared": VecList.distance_squared,
    "is_unit": VecList.is_unit,
    "minimum_distance_to": VecList.minimum_distance_to,
}


def vectors(block, name, *args):
    """The (m, 3) float64 block of a new cloud: a read-only view of the result list, no copy."""
    return np.asarray(OPERATIONS[name](VecList.from_array(block), *args))


def values(block, name, dtype, *args):
    """The (m,) block of one value per point."""
    return np.array(OPERATIONS[name](VecList.from_array(block), *args), dtype=dtype)


# -- Nearest-point search: candidates are (global index, float64 row) or None --


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


# -- k nearest neighbours: one tree per cloud chunk, candidates merged per query chunk --
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
