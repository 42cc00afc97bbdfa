"""The work done on one block of a cloud, wherever the scheduler runs it (this process, a thread,
a worker on another machine): numpy block -> VecList.from_array -> the operation -> numpy.

Tasks name their operation by a string and look it up here, so the graph carries only plain
values and the Vec3d / Quat arguments, and the functions pickle by reference.
"""

import operator

import numpy as np

from lumeric_py import VecList


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
