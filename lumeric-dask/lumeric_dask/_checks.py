"""Call-time checks: a bad cloud or argument is refused when the function is called, in the words
VecList uses, and not minutes later inside a worker. Each check hands the real VecList a
stand-in of no more than one row, so the messages cannot drift from the list's own."""

import copy
import math
import operator

import numpy as np

from lumeric_py import KDTree, Quat, Vec3d, VecList

from ._blocks import OPERATIONS


def rows_of(cloud, judge=VecList.from_array, what="cloud"):
    """The cloud chunked in whole rows, after judge (VecList.from_array, or a call that converts as
    it does) has judged its shape and dtype."""
    import dask.array as da

    if not isinstance(cloud, da.Array):
        raise TypeError(f"{what} must be a dask array of shape (n, 3), not {type(cloud).__name__!r}")
    shape = cloud.shape
    if len(shape) == 2 and math.isnan(shape[1]):
        # Only the blocks know it (after a boolean column selection, say); a stand-in would
        # name a shape the cloud does not have.
        raise ValueError(
            f"from_array() expects shape (n, 3), but the {what}'s column count is unknown "
            f"(shape {_shape_text(shape)}); call {what}.compute_chunk_sizes() first"
        )
    stand_in = tuple(1 if math.isnan(d) else d for d in shape)  # rows not yet known
    if len(stand_in) == 2 and stand_in[1] == 3:
        stand_in = (min(stand_in[0], 1), 3)
    try:
        # Zero strides: a wrong shape is judged at its full size without a byte behind it.
        judge(np.broadcast_to(np.zeros((), cloud.dtype), stand_in))
    except ValueError as error:
        if stand_in == shape:
            raise
        # The judge named the stand-in's shape; a refused k, say, names none.
        raise ValueError(str(error).replace(_shape_text(stand_in), _shape_text(shape))) from None
    return cloud.rechunk({1: 3}) if cloud.numblocks[1] > 1 else cloud


def _shape_text(shape):
    """(nan, 2) as dask reports it, in the form from_array() writes shapes."""
    parts = ["nan" if math.isnan(d) else str(int(d)) for d in shape]
    return "(" + ", ".join(parts) + ("," if len(parts) == 1 else "") + ")"


def arguments(name, *args):
    """The arguments, after the operation accepted them on a one-row list; Vec3d and Quat values
    are copied, so changing them before the graph runs changes nothing."""
    OPERATIONS[name](VecList([Vec3d(0.0, 0.0, 0.0)]), *args)
    return tuple(_settled(a) for a in args)


def _settled(value):
    if isinstance(value, (Vec3d, Quat)):
        return copy.copy(value)
    # Plain ints and floats travel best; the list took the value, so one of the two conversions works.
    try:
        return operator.index(value)  # an axis, a stride, an integral factor
    except TypeError:
        return float(value)


def search_arguments(other, stride):
    """other and stride of minimum_distance_to, checked in the list's order (types, then the
    stride's value); a stride below 1 is a ValueError, where the list would fail an assertion."""
    try:
        too_small = operator.index(stride) < 1
    except TypeError:
        too_small = False  # the list names the problem
    other, _ = arguments("minimum_distance_to", other, 1 if too_small else stride)
    if too_small:
        raise ValueError(f"minimum_distance_to() stride must be at least 1, got {stride}")
    return other, operator.index(stride)


CLOUD_ROWS = 1_000_000  # rows per chunk of a cloud given in memory
QUERY_ROWS = 250_000  # rows per chunk of queries given in memory


def _converted(x, judge):
    """x converted as VecList.from_array converts; a mistake in judge's own words."""
    try:
        return np.asarray(VecList.from_array(x))
    except (TypeError, ValueError):
        judge(x)
        raise


def cloud_of(cloud):
    """A tree's cloud in whole-row chunks: a dask array judged by the tree's constructor, anything
    else converted as the tree converts, then chunked."""
    import dask.array as da

    if isinstance(cloud, da.Array):
        return rows_of(cloud, KDTree)
    return da.from_array(_converted(cloud, KDTree), chunks=(CLOUD_ROWS, 3))


def tree_queries(x, k):
    """The queries in whole-row chunks and k, after a query of an empty tree has judged them (on a
    stand-in for a dask array, on the rows otherwise), so the messages are the tree's."""
    import dask.array as da

    empty = KDTree(VecList.empty())
    if isinstance(x, da.Array):
        return rows_of(x, lambda stand_in: empty.query(stand_in, k), "x"), operator.index(k)
    converted = _converted(x, lambda rows: empty.query(rows, k))
    empty.query(VecList.empty(), k)
    return da.from_array(converted, chunks=(QUERY_ROWS, 3)), operator.index(k)


def query_arguments(cloud, x, k):
    """The cloud and the queries of lumeric_dask.query, judged in the tree's order: the cloud, then
    the queries and k."""
    rows = cloud_of(cloud)
    return (rows, *tree_queries(x, k))


def _radius(r):
    """r as a float, judged as the tree's count_radius judges its r."""
    KDTree(VecList.empty()).count_radius(VecList.empty(), r)
    return float(r)


def max_distance(value):
    """max_distance as a float, judged as the tree's query judges it."""
    KDTree(VecList.empty()).query(VecList.empty(), 1, value)
    return float(value)


def radius_arguments(x, r):
    """The queries and r of count_radius, in the tree's order: the queries, then r."""
    queries, _ = tree_queries(x, 1)
    return queries, _radius(r)


def partitions(value):
    """None, or the number of pieces asked for: an integer of at least 1."""
    if value is None:
        return None
    try:
        count = operator.index(value)
    except TypeError:
        raise TypeError(f"partitions must be an integer or None, not {type(value).__name__!r}") from None
    if count < 1:
        raise ValueError(f"partitions must be at least 1, got {count}")
    return count


def voxel_size(size):
    """size as a float, once judged as VecList.voxel_down_sample judges it: a finite number above 0."""
    VecList.empty().voxel_down_sample(size)  # the list's own words
    return float(size)
