# Every refusal of the module, written once: (call, exception, text template, values). The text is
# template.format(*values); a template of None is the host's own text, left unchecked. test_refusals.py
# runs each row; test_bad_input.py takes from the templates the texts that arbitrary input may meet.
# The calls act on the shared receivers below, which must hold their values afterwards.

import math
from array import array

import numpy as np

from helpers import Callback, Sequence
from lumeric_py import AngleDegrees, AngleRadians, KDTree, Quat, Transform, Vec3d, VecList, geometry

V, O, X = Vec3d(1, 2, 3), Vec3d(0, 0, 0), Vec3d(1, 0, 0)
C = geometry.Circle(O, 1, Vec3d(0, 0, 1))
X90 = Quat.from_axis_angle(X, AngleRadians.half_pi())
EYE = [[1, 0, 0], [0, 1, 0], [0, 0, 1]]
ONE, THREE = VecList([V]), VecList([V] * 3)
ROWS = [[1.0, 2.0, 3.0]] * 4
TREE = KDTree(ROWS)
RECEIVERS = [V, C, ONE, THREE, TREE]


def table(kind, rows, width=4):  # a (rows, width) buffer of this element kind, without numpy
    flat = array(kind, [x for row in rows for x in row])
    return memoryview(flat).cast("B").cast(kind, (len(rows), width))


def beyond_memory(width):  # 2**58 rows of one float32 element: counted before they are read
    return np.lib.stride_tricks.as_strided(np.zeros(1, np.float32), (2**58, width), (0, 0))


def with_numpy(call):  # numpy keeps no reference total under the debug interpreter: no leak check
    call.numpy = True
    return call


def released_view():
    view = memoryview(b"xyz")
    view.release()
    return view


def under_a_view(lst, change):  # a live view holds a shared borrow
    with memoryview(lst):
        change(lst)


# -- Texts with a part that varies with the input --
MISSING = "{}() missing {} required positional argument{}: {}"
TAKES = "{}() takes {} positional arguments but {} were given"
UNEXPECTED = "{}() got an unexpected keyword argument '{}'"
MULTIPLE = "{}() got multiple values for argument '{}'"
NOT_INSTANCE = "argument '{}': '{}' object is not an instance of '{}'"
NOT_REAL = "argument '{}': must be real number, not {}"
NOT_INTEGER = "argument '{}': '{}' object cannot be interpreted as an integer"
SHAPE = "{}() expects shape ({}, {}), got {}"
ROW_COUNT = "{}() expects {} rows, got {}"
ROW_LENGTH = "{}() row {} has {} values, expected {}"
NOT_ROWS = "{}() expects a buffer or a sequence of rows of {} numbers, not '{}'"
ROW_NOT_SEQUENCE = "{}() row {} is not a sequence of {} numbers, but '{}'"
ROW_ITEM = "{}() row {}: must be real number, not {}"
FORMAT = "{}() cannot read elements of format '{}': expected float64, float32 or integers, in native byte order"
QUATS_PER_VECTOR = "rotate_each() expects one quaternion per vector: got {} for a list of {}"
AT_LEAST = "{} must be at least {}, got {}"
NON_NEGATIVE = "{} must be a non-negative number, got {}"
FINITE = "{} must be a finite number, got {}"
STATE_SIZE = "the pickled state of {} holds {} bytes, {}"
NO_CLASS = "_reconstruct(): no class of lumeric_py is named '{}'"
MATRIX = "from_rotation_matrix(): the matrix {}"
TWO_VECTORS = "from_two_vectors(): the {} vector {}"
NUMBER_COUNT = "argument '{}': expected a sequence of {} numbers, got {} items"
EULER_SEQUENCE = ('seq {!r} is not an Euler sequence: three of the letters "xyz" (extrinsic) or "XYZ" (intrinsic), '
                  "no letter twice in a row")
GEOMETRIES = "The given geometries {}"
ALIGN = "align(): {}"
ONE_DIMENSIONAL = "{}() expects a one-dimensional buffer, got shape {}"
NOT_FLOATS = "{}() expects a buffer or a sequence of numbers, got '{}'"
FLOAT_ITEM = "{}() item {}: must be real number, not {}"
FLOAT64 = "{}() expects float64 numbers, got format '{}'"
FROM_MATRIX = "from_matrix(): the {}"
MAX_DISTANCE = "icp(): max_distance must be a positive number, got {}"
NORMALS = "icp(): normals must have one row per point of the tree: got {} for {}"
VOXEL_SIZE = "voxel_down_sample() size must be finite and above 0, got {}"
VOXEL_TOO_FINE = "voxel_down_sample() size {} is too small for the cloud's extent {}: a voxel index would exceed 2**62"
TAKE_RANGE = "take() index {} is out of range for a VecList of length {}"
TAKE_FORMAT = "take() expects integer indices, got a buffer of format '{}'"
TAKE_SHAPE = "take() expects a 1-D buffer of indices, got shape {}"
TAKE_ITEM = "take() item {}: '{}' object cannot be interpreted as an integer"
TAKE_WHAT = "take() expects a buffer or a sequence of ints, not '{}'"
VIEW_ALIVE = "Already borrowed: a memoryview or numpy array of this list is alive; drop it (del, .release()) first"

REFUSALS = [
    # The frame: argument placement and conversion, the same words for every class.
    (lambda: Vec3d(1, 2), TypeError, MISSING, ("Vec3d.__new__", 1, "", "'z'")),
    (lambda: Vec3d(1), TypeError, MISSING, ("Vec3d.__new__", 2, "s", "'y' and 'z'")),
    (lambda: Quat(), TypeError, MISSING, ("Quat.__new__", 4, "s", "'w', 'i', 'j', and 'k'")),
    (lambda: Vec3d(1, 2, 3, 4), TypeError, TAKES, ("Vec3d.__new__", 3, 4)),
    (lambda: V.dot(V, V), TypeError, TAKES, ("Vec3d.dot", 1, 2)),
    (lambda: Vec3d(1, 2, 3, w=1), TypeError, UNEXPECTED, ("Vec3d.__new__", "w")),
    (lambda: V.dot(V, other=V), TypeError, MULTIPLE, ("Vec3d.dot", "other")),
    (lambda: V.distance_to_line(b=V), TypeError, MISSING, ("Vec3d.distance_to_line", 1, "", "'a'")),
    (lambda: TREE.query(), TypeError, MISSING, ("KDTree.query", 1, "", "'x'")),
    (lambda: Quat(1, "a", "b", 4), TypeError, NOT_REAL, ("i", "str")),  # the first bad one
    (lambda: V.dot(None), TypeError, "argument 'other': 'None' is not an instance of 'Vec3d'", ()),
    (lambda: Quat.from_axis_angle(V, AngleDegrees(1)), TypeError, NOT_INSTANCE, ("angle", "AngleDegrees", "AngleRadians")),
    (lambda: geometry.circle_circle(C, geometry.Plane.xy()), TypeError, NOT_INSTANCE, ("circle2", "Plane", "Circle")),
    (lambda: geometry.circle_point(C, V, 1), TypeError, NOT_INSTANCE, ("inner", "int", "bool")),
    (lambda: V[1.0], TypeError, NOT_INTEGER, ("index", "float")),
    (lambda: TREE.query(V, 1.0), TypeError, NOT_INTEGER, ("k", "float")),
    (lambda: VecList("abc"), TypeError, "argument 'list': Can't extract `str` to `Vec`", ()),
    (lambda: VecList(5), TypeError, NOT_INSTANCE, ("list", "int", "Sequence")),
    (lambda: VecList([V, 1]), TypeError, NOT_INSTANCE, ("list", "int", "Vec3d")),
    (lambda: VecList(Sequence([TypeError("broken")])), TypeError, "argument 'list': broken", ()),
    (lambda: setattr(V, "y", "1"), TypeError, NOT_REAL, ("value", "str")),
    (lambda: TREE.query_radius(V, "1"), TypeError, NOT_REAL, ("r", "str")),
    (lambda: THREE.rotate_each([X90, X90, (1, 0, 0, 0)]), TypeError, NOT_INSTANCE, ("quats", "tuple", "Quat")),
    (lambda: THREE.rotate_each(5), TypeError, NOT_INSTANCE, ("quats", "int", "Sequence")),
    (lambda: Quat.from_euler("xyx", (1, 2)), TypeError, NUMBER_COUNT, ("angles", 3, 2)),
    (lambda: Quat.from_euler("xyx", [1, 2, 3, 4]), TypeError, NUMBER_COUNT, ("angles", 3, 4)),
    (lambda: Quat.from_euler("xyx", 1.0), TypeError, NOT_INSTANCE, ("angles", "float", "Sequence")),
    (lambda: X90.to_euler(b"xyz"), TypeError, NOT_INSTANCE, ("seq", "bytes", "str")),
    (lambda: delattr(V, "x"), AttributeError, "property has no deleter", ()),
    (lambda: V[3], IndexError, "Index out of bounds", ()),
    (lambda: ONE[1], IndexError, "Index out of bounds", ()),
    # Errors other than TypeError pass through unwrapped, the host's own included.
    (lambda: VecList(Sequence([ValueError("broken")])), ValueError, "broken", ()),
    (lambda: AngleRadians(Callback(ValueError("no float"))), ValueError, "no float", ()),
    (lambda: V[Callback(LookupError("no index"))], LookupError, "no index", ()),
    (lambda: V[-1], OverflowError, None, ()),
    (lambda: ONE.collapse(2**64), OverflowError, None, ()),
    (lambda: Vec3d(10**400, 0, 0), OverflowError, None, ()),
    # Internal assertions and borrows.
    (lambda: ONE.collapse(3), "PanicException", "assertion failed: axis <= 2", ()),
    (lambda: ONE.collapse(2**64 - 1), "PanicException", "assertion failed: axis <= 2", ()),
    (lambda: ONE.minimum_distance_to(O, 0), "PanicException", "assertion failed: stride != 0", ()),
    (lambda: VecList.empty().minimum_distance_to(O, 0), "PanicException", "assertion failed: stride != 0", ()),
    (lambda: VecList.empty().minimum_distance_to(O, 1), ValueError, "minimum_distance_to() on an empty VecList", ()),
    (lambda: ONE.extend(ONE), RuntimeError, "Already mutably borrowed", ()),
    (lambda: under_a_view(THREE, lambda lst: lst.rotate_each([X90] * 3)), RuntimeError, VIEW_ALIVE, ()),
    # Tables of numbers: from_array, matrices and quaternion tables.
    (lambda: VecList.from_array(memoryview(b"x" * 24).cast("d")), ValueError, SHAPE, ("from_array", "n", 3, "(3,)")),
    (lambda: VecList.from_array(b"abc"), ValueError, SHAPE, ("from_array", "n", 3, "(3,)")),
    (lambda: VecList.from_array(table("d", [[0, 0]] * 4, 2)), ValueError, SHAPE, ("from_array", "n", 3, "(4, 2)")),
    (lambda: VecList.from_array(table("f", [[0] * 3], 3).cast("B").cast("f", (1, 1, 3))), ValueError, SHAPE,
     ("from_array", "n", 3, "(1, 1, 3)")),
    (lambda: VecList.from_array(memoryview(bytes(6)).cast("e", (1, 3))), TypeError, FORMAT, ("from_array", "e")),
    (lambda: VecList.from_array(memoryview(bytes(3)).cast("?", (1, 3))), TypeError, FORMAT, ("from_array", "?")),
    (lambda: VecList.from_array(released_view()), TypeError,
     "from_array() cannot read the buffer of 'memoryview': operation forbidden on released memoryview object", ()),
    (lambda: VecList.from_array({1: 2}), TypeError, NOT_ROWS, ("from_array", 3, "dict")),
    (lambda: TREE.query("abc"), TypeError, NOT_ROWS, ("from_array", 3, "str")),
    (lambda: KDTree(5), TypeError, NOT_ROWS, ("from_array", 3, "int")),
    (lambda: VecList.from_array([[1, 2, 3], [1, 2]]), ValueError, ROW_LENGTH, ("from_array", 1, 2, 3)),
    (lambda: TREE.query([[1.0, 2.0]]), ValueError, ROW_LENGTH, ("from_array", 0, 2, 3)),
    (lambda: TREE.query_radius(memoryview(b"ab"), 1.0), ValueError, SHAPE, ("from_array", "n", 3, "(2,)")),
    (lambda: VecList.from_array([[1, 2, 3], 4.0]), TypeError, ROW_NOT_SEQUENCE, ("from_array", 1, 3, "float")),
    (lambda: VecList.from_array([(1, 2, 3), "xyz"]), TypeError, ROW_NOT_SEQUENCE, ("from_array", 1, 3, "str")),
    (lambda: VecList.from_array([[1, 2, 3], [1, "2", 3]]), TypeError, ROW_ITEM, ("from_array", 1, "str")),
    (lambda: VecList.from_array([[1, 2, 10**400]]), OverflowError, "int too large to convert to float", ()),
    (lambda: Quat.from_rotation_matrix(EYE[:2]), ValueError, ROW_COUNT, ("from_rotation_matrix", 3, 2)),
    (lambda: Quat.from_rotation_matrix([[1, 0], [0, 1], [0, 0]]), ValueError, ROW_LENGTH,
     ("from_rotation_matrix", 0, 2, 3)),
    (lambda: Quat.from_rotation_matrix(table("d", [[1, 0, 0, 0]] * 4)), ValueError, SHAPE,
     ("from_rotation_matrix", 3, 3, "(4, 4)")),
    (lambda: Quat.from_rotation_matrix("abc"), TypeError, NOT_ROWS, ("from_rotation_matrix", 3, "str")),
    (lambda: Quat.from_rotation_matrix([[1, 0, 0], [0, "1", 0], [0, 0, 1]]), TypeError, ROW_ITEM,
     ("from_rotation_matrix", 1, "str")),
    (lambda: THREE.rotate_each(table("d", EYE, 3)), ValueError, SHAPE, ("rotate_each", "n", 4, "(3, 3)")),
    (lambda: THREE.rotate_each([X90] * 2), ValueError, QUATS_PER_VECTOR, (2, 3)),
    (lambda: THREE.rotate_each(table("d", [[1, 0, 0, 0]] * 4)), ValueError, QUATS_PER_VECTOR, (4, 3)),
    (with_numpy(lambda: THREE.rotate_each(beyond_memory(4))), ValueError, QUATS_PER_VECTOR, (2**58, 3)),
    # The values' own refusals.
    (lambda: Quat.from_rotation_matrix([[1, 0, 0], [0, 1, 0], [0, 0, math.nan]]), ValueError, MATRIX,
     ("has a NaN or infinite entry",)),
    (lambda: Quat.from_rotation_matrix([[1, 0, 0], [0, 1 + 2e-9, 0], [0, 0, 1]]), ValueError, MATRIX,
     ("is not orthonormal: max |M^T M - I| exceeds 1e-9",)),
    (lambda: Quat.from_rotation_matrix([[1, 0, 0], [0, 1, 0], [0, 0, -1]]), ValueError, MATRIX,
     ("is not a rotation: det(M) is not positive",)),
    (lambda: Quat.from_two_vectors(O, X), ValueError, TWO_VECTORS, ("first", "is zero")),
    (lambda: Quat.from_two_vectors(X, Vec3d(0, -0.0, 0)), ValueError, TWO_VECTORS, ("second", "is zero")),
    (lambda: Quat.from_two_vectors(Vec3d(math.inf, 0, 0), O), ValueError, TWO_VECTORS,
     ("first", "has a NaN or infinite component")),
    (lambda: Quat.from_two_vectors(X, Vec3d(0, math.nan, 0)), ValueError, TWO_VECTORS,
     ("second", "has a NaN or infinite component")),
    (lambda: X90.to_euler("xxz"), ValueError, EULER_SEQUENCE, ("xxz",)),
    (lambda: geometry.circle_circle(C, C), ValueError, GEOMETRIES, ("are identical.",)),
    (lambda: geometry.circle_circle(C, geometry.Circle(Vec3d(3, 0, 0), 1, Vec3d(0, 0, 1))), ValueError, GEOMETRIES,
     ("are too far apart and do not intersect at all.",)),
    (lambda: geometry.circle_circle(C, geometry.Circle(Vec3d(0.5, 0, 0), 3, Vec3d(0, 0, 1))), ValueError,
     "One of the given geometries is contained entirely within the other. The surfaces do not intersect.", ()),
    (lambda: geometry.circle_circle(C, geometry.Circle(X, 1, Vec3d(0, 1, 0))), ValueError, GEOMETRIES,
     ("are out of plane from each other",)),
    # The tree's counts and radii, and results beyond memory, refused before any work.
    (lambda: TREE.query(V, 0), ValueError, AT_LEAST, ("k", 1, 0)),
    (lambda: TREE.query(ROWS, -(2**70)), ValueError, AT_LEAST, ("k", 1, -(2**70))),
    (lambda: TREE.normals(0), ValueError, AT_LEAST, ("k", 1, 0)),
    (lambda: TREE.radius_inliers(1.0, -1), ValueError, AT_LEAST, ("min_neighbours", 0, -1)),
    (lambda: TREE.radius_inliers(1.0, 1.0), TypeError, NOT_INTEGER, ("min_neighbours", "float")),
    (lambda: TREE.statistical_inliers(2.5), TypeError, NOT_INTEGER, ("k", "float")),
    (lambda: TREE.query_radius(V, -1.0), ValueError, NON_NEGATIVE, ("r", -1.0)),
    (lambda: TREE.query_radius(ROWS, math.nan), ValueError, NON_NEGATIVE, ("r", "nan")),
    (lambda: TREE.count_radius(V, -1.0), ValueError, NON_NEGATIVE, ("r", -1.0)),
    (lambda: TREE.query(V, 2, math.nan), ValueError, NON_NEGATIVE, ("max_distance", "nan")),
    (lambda: TREE.normals(3, max_distance=-0.5), ValueError, NON_NEGATIVE, ("max_distance", -0.5)),
    (lambda: TREE.statistical_inliers(3, math.inf), ValueError, FINITE, ("std_ratio", "inf")),
    (lambda: TREE.normals(3, 1.0), TypeError, TAKES, ("KDTree.normals", 1, 2)),
    (lambda: TREE.normals(toward=(0, 0, 1)), TypeError, NOT_INSTANCE, ("toward", "tuple", "Vec3d")),
    (lambda: TREE.query(ROWS, 2**62), MemoryError, "", ()),
    (lambda: TREE.query(V, 10**30), MemoryError, "", ()),
    (lambda: TREE.query(V, 2**59), MemoryError, "", ()),
    (lambda: TREE.query([], 2**62), MemoryError, "", ()),  # no rows, but no row of 2**62 places either
    # Registration: alignment's inputs, the matrix of a rigid map, ICP's bound and normals.
    (lambda: Transform.align(ROWS, ROWS[:1]), ValueError, ALIGN, ("source and target differ in length: 4 and 1",)),
    (lambda: Transform.align([], []), ValueError, ALIGN, ("the point sets are empty",)),
    (lambda: Transform.align(ROWS, ROWS, [1.0]), ValueError, ALIGN, ("weights must have one value per point: got 1 for 4 points",)),
    (lambda: Transform.align(ROWS, ROWS, [1.0, -1.0, 1.0, 1.0]), ValueError, ALIGN, ("weights must be finite and non-negative",)),
    (lambda: Transform.align(ROWS, ROWS, [1.0, math.nan, 1.0, 1.0]), ValueError, ALIGN,
     ("weights must be finite and non-negative",)),
    (lambda: Transform.align(ROWS, ROWS, array("d", [0.0] * 4)), ValueError, ALIGN, ("weights sum to 0",)),
    (lambda: Transform.align(ROWS, ROWS, table("d", ROWS, 3)), ValueError, ONE_DIMENSIONAL, ("align", "(4, 3)")),
    (lambda: Transform.align(ROWS, ROWS, array("f", [1.0] * 4)), TypeError, FLOAT64, ("align", "f")),
    (lambda: Transform.align(ROWS, ROWS, 5), TypeError, NOT_FLOATS, ("align", "int")),
    (lambda: Transform.align(ROWS, ROWS, [1.0, "1", 1.0, 1.0]), TypeError, FLOAT_ITEM, ("align", 1, "str")),
    (lambda: Transform.from_matrix([[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 0], [0, 0, 0, 2]]), ValueError, FROM_MATRIX,
     ("last row is not (0, 0, 0, 1)",)),
    (lambda: Transform.from_matrix([[1, 0, 0, 0], [0, 1, 0, math.inf], [0, 0, 1, 0], [0, 0, 0, 1]]), ValueError,
     FROM_MATRIX, ("translation has a NaN or infinite entry",)),
    (lambda: Transform.from_matrix([[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, -1, 0], [0, 0, 0, 1]]), ValueError, FROM_MATRIX,
     ("matrix is not a rotation: det(M) is not positive",)),
    (lambda: Transform.from_matrix(EYE), ValueError, ROW_COUNT, ("from_matrix", 4, 3)),
    (lambda: Transform.from_matrix(table("d", EYE, 3)), ValueError, SHAPE, ("from_matrix", 4, 4, "(3, 3)")),
    (lambda: Quat.from_rotation_matrix([[math.inf, 0, 0]] * 3, nearest=True), ValueError, MATRIX,
     ("has a NaN or infinite entry",)),
    (lambda: Quat.from_rotation_matrix(EYE, nearest=1), TypeError, NOT_INSTANCE, ("nearest", "int", "bool")),
    (lambda: TREE.icp(ROWS, math.nan), ValueError, MAX_DISTANCE, ("NaN",)),
    (lambda: TREE.icp(ROWS, 0.0), ValueError, MAX_DISTANCE, ("0",)),
    (lambda: TREE.icp(ROWS, 1.0, normals=ROWS[:1]), ValueError, NORMALS, (1, 4)),
    (lambda: TREE.icp(ROWS, 1.0, init=V), TypeError, NOT_INSTANCE, ("init", "Vec3d", "Transform")),
    # Voxel sizes, and rows by index: the first index out of range is named, as the caller wrote it.
    *[(lambda size=size: ONE.voxel_down_sample(size), ValueError, VOXEL_SIZE, (text,))
      for size, text in ((0.0, "0.0"), (-1.0, "-1.0"), (math.nan, "nan"), (math.inf, "inf"))],
    (lambda: VecList([O, Vec3d(3, 1, -1)]).voxel_down_sample(1e-300), ValueError, VOXEL_TOO_FINE, ("1e-300", "3.0")),
    (lambda: ONE.voxel_down_sample(1.0, True), TypeError, TAKES, ("VecList.voxel_down_sample", 1, 2)),
    (lambda: THREE.take([0, 2, -1, 5]), IndexError, TAKE_RANGE, (-1, 3)),
    (lambda: THREE.take(array("q", [1, 3, -2])), IndexError, TAKE_RANGE, (3, 3)),
    (lambda: THREE.take(array("Q", [1, 2**64 - 1])), IndexError, TAKE_RANGE, (2**64 - 1, 3)),
    (lambda: THREE.take([1, 2**70, -1]), IndexError, TAKE_RANGE, (2**70, 3)),
    (lambda: THREE.take(array("d", [1.0])), TypeError, TAKE_FORMAT, ("d",)),
    (lambda: THREE.take(memoryview(bytes(1)).cast("?")), TypeError, TAKE_FORMAT, ("?",)),
    (lambda: THREE.take(table("q", [[1, 2], [0, 1]], 2)), ValueError, TAKE_SHAPE, ("(2, 2)",)),
    (lambda: THREE.take([1, 2.0]), TypeError, TAKE_ITEM, (1, "float")),
    (lambda: THREE.take(3), TypeError, TAKE_WHAT, ("int",)),
    (lambda: THREE.take("01"), TypeError, TAKE_WHAT, ("str",)),
    # Pickled states, checked before anything is built.
    (lambda: _reconstruct("VecList", b"x" * 25), ValueError, STATE_SIZE, ("VecList", 25, "not a multiple of 24")),
    (lambda: _reconstruct("KDTree", b"x" * 25), ValueError, STATE_SIZE, ("KDTree", 25, "not a multiple of 24")),
    (lambda: _reconstruct("Vec3d", b"x" * 23), ValueError, STATE_SIZE, ("Vec3d", 23, "24 expected")),
    (lambda: _reconstruct("Plane", b"x" * 24), ValueError, STATE_SIZE, ("Plane", 24, "32 expected")),
    (lambda: _reconstruct("VecListIterator", b""), ValueError, NO_CLASS, ("VecListIterator",)),
    (lambda: _reconstruct("vec3d", b"x" * 24), ValueError, NO_CLASS, ("vec3d",)),
    (lambda: _reconstruct(b"Vec3d", b"x" * 24), TypeError, "_reconstruct(): the class name must be a str, not 'bytes'", ()),
    (lambda: _reconstruct("Vec3d", [1.0, 2.0, 3.0]), TypeError,
     "_reconstruct(): the state must be a bytes-like object, not 'list'", ()),
    (lambda: _reconstruct("Vec3d"), TypeError, TAKES, ("_reconstruct", 2, 1)),
]


def _reconstruct(*arguments):  # as pickle calls it: through an object that reduces to these arguments
    import pickle

    import lumeric_py
    forged = type("Forged", (), {"__reduce__": lambda self: (lumeric_py._reconstruct, arguments)})()
    return pickle.loads(pickle.dumps(forged))
