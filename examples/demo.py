"""A short tour of lumeric_py: run with `tools/py314 demo`."""

import lumeric_py
from lumeric_py import Vec3d

print("lumeric_py exports:", ", ".join(lumeric_py.__all__))

# Vectors are values: every operation returns a new object, computed bit-reproducibly.
a = Vec3d(3, 0, 4)
b = Vec3d(1, 2, 2)
print(f"a = {a!r}, b = {b!r}")
print(f"a + b = {a + b!r}, a - b = {a - b!r}, 2 * a = {2 * a!r}, a / 0 = {a / 0!r}")
print(f"|a| = {a.magnitude()}, a.normalize() = {a.normalize()!r}, unit? {a.normalize().is_unit()}")
print(f"a . b = {a.dot(b)}, a x b = {a.cross(b)!r}")
print(f"distance a..b = {a.distance_to(b)}, squared = {a.distance_squared(b)}")
print(f"distance from the origin to the line through a and b = {Vec3d.zero().distance_to_line(a, b)}")
print(f"(1, 1, 1) projected onto the plane z = 0: {Vec3d(1, 1, 1).project_onto_plane(Vec3d.k())!r}")

# Components are read-write properties and can be indexed.
a.x = 5
x, y, z = a.to_array()
print(f"after a.x = 5: a = {a!r}, as a list = {[x, y, z]}, a[2] = {a[2]}")

# Equality tolerates 2**-52 per component; hashing uses the exact bits.
print(f"Vec3d(0, 0, 0) == Vec3d(1e-16, 0, 0): {Vec3d(0, 0, 0) == Vec3d(1e-16, 0, 0)}")
print(f"hash(Vec3d(1, 2, 3)) = {hash(Vec3d(1, 2, 3))}")

# Bad input is a clear exception, never a crash.
try:
    Vec3d(1, 2)  # type: ignore[call-arg]
except TypeError as error:
    print(f"Vec3d(1, 2) -> TypeError: {error}")

# -- Angles and quaternions --
from lumeric_py import AngleDegrees, AngleRadians, Quat

right = AngleDegrees(90).to_radians()  # radians do the work, degrees are for input and display
print(f"{right}, equal to half_pi: {right == AngleRadians.half_pi()}, back: {right.to_degrees()}")
print(f"pi / 3 = {AngleRadians.pi() / 3}, sin(pi / 6) = {AngleRadians.sixth_pi().sin()}")
print(f"angle between (1, 0, 0) and (1, 1, 0): {Vec3d(1, 0, 0).angle_to(Vec3d(1, 1, 0)).to_degrees()}")
print(f"angle between (1, 1, 1) and itself: {Vec3d(1, 1, 1).angle_to(Vec3d(1, 1, 1))}")
q = Quat.from_axis_angle(Vec3d(0, 0, 1), right)  # a quarter turn about z
print(f"{q!r}, unit: {q.is_unit()}; it rotates (1, 0, 0) to {q.rotate(Vec3d(1, 0, 0))!r}")
axis, angle = q.to_axis_angle()
print(f"axis {axis!r}, angle {angle.to_degrees()}")
tilt = Quat.from_axis_angle(Vec3d(1, 0, 0), right)  # a quarter turn about x
both = q.multiply(tilt)  # q first, then tilt: x -> y -> z
print(f"q then tilt: {both!r} takes (1, 0, 0) to {both.rotate(Vec3d(1, 0, 0))!r}")
halfway = q.slerp(both, 0.5)  # along the shorter arc; t = 0 and t = 1 give q and both exactly
print(f"halfway from q to both: {halfway!r}, its axis {halfway.to_axis_angle()[0]!r}")
matrix = both.to_rotation_matrix()
print(f"through its matrix and back: {Quat.from_rotation_matrix(matrix)!r}")
print(f"the shortest turn from x to z: {Quat.from_two_vectors(Vec3d(1, 0, 0), Vec3d(0, 0, 1))!r}")

# -- Geometry: planes, circles and intersections --
from lumeric_py import geometry

Plane, Circle = geometry.Plane, geometry.Circle
floor = Plane(Vec3d(0, 0, 2), 5)  # the plane z = 5: the normal is normalised, the distance stored as -5
print(f"plane: normal {floor.normal!r}, distance {floor.distance}")
hit = geometry.plane_line(floor, Vec3d(1, 2, 0), Vec3d(1, 2, 1))  # the whole line, not just the segment
print(f"the line through (1, 2, 0) and (1, 2, 1) meets it at {hit!r}: {floor.contains_point(hit)}")
c1 = Circle(Vec3d(0, 0, 1), 1, Vec3d(0, 0, 1))
c2 = Circle(Vec3d(1, 0, 1), 1, Vec3d(0, 0, -1))  # same plane z = 1, normal the other way
first, second = geometry.circle_circle(c1, c2)
print(f"two unit circles cross at {first!r} and {second!r}")
try:
    geometry.circle_circle(c1, Circle(Vec3d(3, 0, 1), 1, Vec3d(0, 0, 1)))
except ValueError as error:
    print(f"circles 3 apart -> ValueError: {error}")

# -- Point clouds: a VecList keeps the vectors unboxed and runs batch operations on all cores --
from lumeric_py import VecList

cloud = VecList([Vec3d(k, k * 0.5, -k) for k in range(100_000)])  # copied in, unboxed
print(f"{len(cloud)} points; cloud[2] = {cloud[2]!r}; shifted: {(cloud + Vec3d(1, 1, 1))[0]!r}")
print(f"first dot products with x: {cloud.dot(Vec3d(1, 0, 0))[:3]}, a normalized point: {cloud.normalize()[1]!r}")
cloud.rotate(Quat.from_axis_angle(Vec3d(0, 0, 1), AngleRadians.half_pi()))  # in place, all or nothing
target = Vec3d(-250, 500, -500.2)
index, distance = cloud.minimum_distance_to(target, 100)  # coarse pass every 100th point, then a window
print(f"nearest point to {target!r}: #{index} {cloud[index]!r} at distance {distance}")
print(repr(VecList(cloud.list[:2])))
try:
    cloud.collapse(3)
except BaseException as error:  # an internal assertion: not caught by `except Exception`
    print(f"collapse(3) -> {type(error).__name__}: {error}")

# -- numpy, copy and pickle --
import copy
import pickle

import numpy as np

rng = np.random.default_rng(7)
scan = rng.normal(0.0, 10.0, (200_000, 3))  # a point cloud, as a reader would hand it over
points = VecList.from_array(scan)  # one copy, on the pool; float32 and integer arrays work too
centred = points - Vec3d(*np.asarray(points).mean(axis=0))  # np.asarray: a read-only view, no copy
unit = centred.normalize()
directions = np.asarray(unit)
print(f"{len(unit)} directions, shape {directions.shape}, writeable: {directions.flags.writeable}")
try:
    unit.append(Vec3d(1, 0, 0))  # a live view holds a shared borrow of the list
except RuntimeError as error:
    print(f"append while a view is alive -> RuntimeError: {error}")
del directions
unit.append(Vec3d(1, 0, 0))
print(f"after the view is gone: {len(unit)} directions")
restored = pickle.loads(pickle.dumps(unit, protocol=5))  # raw doubles, 24 bytes a vector
print(f"pickled and back: {np.array_equal(np.asarray(restored), np.asarray(unit))}; "
      f"a Vec3d copy: {copy.deepcopy(Vec3d(1, 2, 3))!r}")

# -- Nearest neighbours: a k-d tree over a cloud answers many queries in one call, on the pool --
from lumeric_py import KDTree

tree = KDTree(scan)  # owns a copy of the 200,000 points
probe = Vec3d(1, -2, 0.5)
gap, nearest = tree.query(probe)
print(f"nearest to {probe!r}: #{nearest} at {gap}; minimum_distance_to agrees: "
      f"{points.minimum_distance_to(probe, 1) == (nearest, gap)}")
gaps, neighbours = tree.query(scan[:4], k=3)  # read-only memoryviews, shape (4, 3)
print(f"3 nearest of the first 4 points (each its own nearest, at 0.0):\n{np.asarray(neighbours)}\n"
      f"{np.asarray(gaps)}")
flat, offsets = (np.asarray(view) for view in tree.query_radius(scan[:3], 2.0))
print(f"points within 2.0 of the first 3: {np.diff(offsets).tolist()}, "
      f"of the first: {flat[:offsets[1]].tolist()[:5]}...")

# -- Point-cloud steps: thin on a voxel grid, drop outliers, then normals facing the sensor; the same bits at any
# worker count --
angles = rng.uniform(0.0, 2.0 * np.pi, (2, 20_000))
cap = np.stack([np.cos(angles[0]) * np.sin(angles[1] / 6), np.sin(angles[0]) * np.sin(angles[1] / 6),
                np.cos(angles[1] / 6)], axis=1) * 5.0  # a cap of a sphere of radius 5, as a scanner above sees it
raw = np.concatenate([cap + rng.normal(0.0, 0.005, cap.shape), rng.uniform(-6.0, 6.0, (100, 3))])
thin = VecList.from_array(raw).voxel_down_sample(0.05)  # one mean per occupied voxel, in voxel order
assert isinstance(thin, VecList)
kept = KDTree(thin).statistical_inliers(k=20, std_ratio=2.0)  # ascending indices, a read-only 'q' memoryview
clean = thin.take(kept)
sensor = Vec3d(0.0, 0.0, 12.0)
normals = KDTree(clean).normals(k=20, toward=sensor)  # a VecList of unit normals, each facing the sensor
outward = sum(n.dot(p) > 0 for n, p in zip(normals, clean))  # on this cap, facing the sensor is facing out
print(f"{len(raw)} points -> {len(thin)} voxels -> {len(clean)} without outliers; normals facing out: {outward} of {len(normals)}; "
      f"{tree.count_radius(probe, 10.0)} points of the scan within 10 of {probe!r}")

# -- Registration: the rigid map that lays one cloud onto another --
from lumeric_py import AngleRadians, Quat, Transform

# Two views of a rolling surface that share half their area, the part turned and shifted.
rng = np.random.default_rng(2)
xy = rng.uniform(0, 4, (40_000, 2))
ground = np.column_stack([xy, 0.3 * np.sin(2 * xy[:, 0]) * np.cos(3 * xy[:, 1])])
motion = Transform(Quat.from_axis_angle(Vec3d(0, 0, 1), AngleRadians(0.04)), Vec3d(0.05, -0.03, 0.01))
part = VecList.from_array(ground[ground[:, 0] > 2.0])
part.transform(motion.inverse())  # in place, on the pool
found = KDTree(ground).icp(part, max_distance=0.2)
print(f"ICP: {found.iterations} updates, fitness {found.fitness}, inlier RMSE {found.inlier_rmse:.3g}; "
      f"recovered the motion: {np.abs(np.array(found.transform.to_matrix()) - motion.to_matrix()).max() < 1e-9}")
pairs = np.asarray(part)[:5]
print(f"align on exact pairs: {Transform.align(pairs, [motion.apply(Vec3d(*p)).to_array() for p in pairs.tolist()])!r}")
