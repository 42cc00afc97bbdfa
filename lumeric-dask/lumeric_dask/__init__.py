"""lumeric_dask: VecList's batch operations on point clouds held as dask arrays, on one machine or
on a cluster, with the same results to the bit as one VecList over the whole cloud.

A cloud is a dask array of shape (n, 3) of any real dtype, converted as VecList.from_array
converts; a cloud chunked along its columns is first rechunked to whole rows. Each function
mirrors the VecList method or operator of the same name (add, sub, mul, div for +, -, *, /), with
the cloud first. Every block goes through VecList.from_array, the operation, and back to numpy
unchanged; the blocks of new clouds are read-only views of the lists that computed them.

Arguments are checked when the function is called, with VecList's own messages. Dask itself is
imported only on first use. On a cluster every worker needs lumeric_py installed; Vec3d and Quat
arguments travel by pickle.
"""

import struct
from typing import TYPE_CHECKING

import numpy as np

from . import _blocks, _checks, _nearest, _voxels
from ._tree import KDTree

if TYPE_CHECKING:  # annotations are evaluated lazily: dask stays unimported
    from dask.array import Array
    from numpy.typing import ArrayLike

    from lumeric_py import Quat, Vec3d

__all__ = [
    "add", "collapse", "cross", "distance_squared", "distance_to", "div", "dot", "is_unit",
    "magnitude", "minimum_distance_to", "mul", "normalize", "query", "rotate", "sub",
]


def _mapped(cloud, name, args, block_function, meta, *fixed, **layout):
    from dask.base import tokenize

    rows = _checks.rows_of(cloud)
    args = _checks.arguments(name, *args)
    # Keys by the exact bits of a float argument: every NaN prints alike, and its payload counts.
    token = tokenize(rows, *(struct.pack("<d", a) if isinstance(a, float) else a for a in args))
    return rows.map_blocks(block_function, name, *fixed, *args, dtype=meta.dtype, meta=meta,
                           name=f"{name}-{token}", **layout)


def _new_cloud(cloud, name, *args):
    return _mapped(cloud, name, args, _blocks.vectors, np.empty((0, 3)))


def _per_point(cloud, name, dtype, *args):
    return _mapped(cloud, name, args, _blocks.values, np.empty((0,), dtype), np.dtype(dtype), drop_axis=1)


def normalize(cloud: Array) -> Array:
    """Each point divided by its length (NaN for a zero point): a new (n, 3) float64 cloud."""
    return _new_cloud(cloud, "normalize")


def cross(cloud: Array, other: Vec3d) -> Array:
    """point x other for each point: a new (n, 3) float64 cloud."""
    return _new_cloud(cloud, "cross", other)


def collapse(cloud: Array, axis: int) -> Array:
    """Each point with coordinate axis (0, 1 or 2) set to +0.0: a new (n, 3) float64 cloud."""
    return _new_cloud(cloud, "collapse", axis)


def rotate(cloud: Array, quat: Quat) -> Array:
    """Each point rotated by quat: a new (n, 3) float64 cloud (dask arrays do not change in place)."""
    return _new_cloud(cloud, "rotate", quat)


def add(cloud: Array, other: Vec3d) -> Array:
    """point + other for each point: a new (n, 3) float64 cloud."""
    return _new_cloud(cloud, "add", other)


def sub(cloud: Array, other: Vec3d) -> Array:
    """point - other for each point: a new (n, 3) float64 cloud."""
    return _new_cloud(cloud, "sub", other)


def mul(cloud: Array, rhs: float) -> Array:
    """Each coordinate times rhs: a new (n, 3) float64 cloud."""
    return _new_cloud(cloud, "mul", rhs)


def div(cloud: Array, rhs: float) -> Array:
    """Each coordinate divided by rhs (IEEE results for 0): a new (n, 3) float64 cloud."""
    return _new_cloud(cloud, "div", rhs)


def dot(cloud: Array, other: Vec3d) -> Array:
    """point . other for each point: an (n,) float64 array."""
    return _per_point(cloud, "dot", "float64", other)


def magnitude(cloud: Array) -> Array:
    """The length of each point: an (n,) float64 array."""
    return _per_point(cloud, "magnitude", "float64")


def distance_to(cloud: Array, other: Vec3d) -> Array:
    """The distance from each point to other: an (n,) float64 array."""
    return _per_point(cloud, "distance_to", "float64", other)


def distance_squared(cloud: Array, other: Vec3d) -> Array:
    """The squared distance from each point to other: an (n,) float64 array."""
    return _per_point(cloud, "distance_squared", "float64", other)


def is_unit(cloud: Array) -> Array:
    """Whether each point has length 1 within 2**-52: an (n,) bool array."""
    return _per_point(cloud, "is_unit", "bool")


def minimum_distance_to(cloud: Array, other: Vec3d, stride: int) -> tuple[int, float]:
    """(index, distance) of the point nearest to other, computed now, by the list's two-pass
    search: every stride-th point first, then the points within stride of the best of them; ties
    go to the lowest index. Equal to VecList.from_array(whole cloud).minimum_distance_to(other,
    stride) for every chunking. An empty cloud or a stride below 1 raises ValueError."""
    rows = _checks.rows_of(cloud)
    other, stride = _checks.search_arguments(other, stride)
    return _nearest.minimum_distance_to(rows, other, stride)


def query(cloud: Array | ArrayLike, x: Array | ArrayLike, k: int = 1) -> tuple[Array, Array]:
    """Lazy (distances, indices) of the k nearest points of the cloud to each row of x (a dask or
    in-memory (m, 3) array), bit for bit those of one KDTree over the whole cloud: float64 and int64
    arrays of shape (m,) when k is 1, (m, k) otherwise, with indices into the whole cloud. Builds a
    lumeric_dask.KDTree (its pieces persisted) now; keep one to query a cloud more than once."""
    rows, queries, k = _checks.query_arguments(cloud, x, k)
    return KDTree(rows).query(queries, k)


def voxel_down_sample(cloud: Array | ArrayLike, size: float) -> Array:
    """Lazy (v, 3) float64: the mean of the points of each occupied voxel of a grid of cell size
    `size`, in voxel order, bit for bit VecList.voxel_down_sample(size) over the whole cloud. The
    grid's corner is found now; the points then move to the task of their voxel's slab."""
    return _voxels.voxel_down_sample(_checks.cloud_of(cloud), _checks.voxel_size(size))
