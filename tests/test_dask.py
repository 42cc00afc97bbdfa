"""lumeric_dask against one VecList over the whole cloud, bit for bit, on the synchronous, threaded
and distributed schedulers; its call-time errors; the chart script."""

import json
import os
import re
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from helpers import bits, run_child, same_fields
from lumeric_py import KDTree, Quat, Vec3d, VecList

# Importing dask.array leaves numpy objects behind at exit, which LeakSanitizer would report; the
# module code these tests reach is covered under the sanitizers by the VecList and interop tests.
if "libasan" in os.environ.get("LD_PRELOAD", ""):
    pytest.skip("dask's imports leave objects at exit that LeakSanitizer reports", allow_module_level=True)
dask = pytest.importorskip("dask")
da = pytest.importorskip("dask.array")
ld = pytest.importorskip("lumeric_dask")

pytestmark = pytest.mark.no_leak_check  # dask keeps caches and threads of its own

V = Vec3d(0.5, -1.0, 2.0)
Q = Quat(0.9273618495495703, 0.1, 0.2, 0.3)
# NaN, -0.0, an infinity, a zero row, a unit row, a subnormal.
SPECIAL = np.array([[1, 2, 3], [0, 0, 0], [-0.0, 5, -0.0], [np.nan, 1, 1], [np.inf, 0, 1],
                    [0, 1, 0], [3, -4, 12], [5e-324, 2.5, -7]] * 2)
INTS = np.arange(48, dtype=np.int16).reshape(16, 3) - 20
CLOUDS = {  # (rows, chunks): one chunk, a one-row chunk, uneven chunks with an empty one, columns split
    "whole": (SPECIAL, (16, 3)), "one-row": (SPECIAL, ((1, 15), 3)), "uneven": (SPECIAL, ((5, 0, 4, 7), 3)),
    "columns": (SPECIAL, ((3, 3, 3, 3, 3, 1), (2, 1))), "int16": (INTS, ((6, 10), 3)),
    "float32": (SPECIAL.astype(np.float32), ((7, 9), 3)), "empty": (SPECIAL[:0], ((0,), 3)),
}
CALLS = [("normalize", ()), ("cross", (V,)), ("collapse", (np.int64(1),)), ("rotate", (Q,)), ("add", (V,)),
         ("sub", (V,)), ("mul", (np.float32(0.1),)), ("div", (0.0,)), ("dot", (V,)), ("magnitude", ()),
         ("distance_to", (V,)), ("distance_squared", (V,)), ("is_unit", ())]
OPERATORS = {"add": "__add__", "sub": "__sub__", "mul": "__mul__", "div": "__truediv__"}


def on_whole_list(rows, name, args):
    lst = VecList.from_array(rows)
    if name == "rotate":
        lst.rotate(*args)
        return np.asarray(lst)
    result = getattr(lst, OPERATORS.get(name, name))(*args)
    return np.asarray(result) if isinstance(result, VecList) else np.array(result, bool if name == "is_unit" else float)


def mismatches(rows, chunks):
    """The functions whose results differ in any bit from one list's; the nearest point for a few strides."""
    cloud = da.from_array(rows, chunks=chunks).persist()  # on a cluster: chunks held by the workers
    lazy = [getattr(ld, name)(cloud, *args) for name, args in CALLS]
    bad = []
    for (name, args), got in zip(CALLS, dask.compute(*lazy)):
        want = on_whole_list(rows, name, args)
        if (got.dtype, got.shape, got.tobytes()) != (want.dtype, want.shape, want.tobytes()):
            bad.append(name)
    for stride in (1, 3, 40) if len(rows) else ():
        want = VecList.from_array(rows).minimum_distance_to(V, stride)
        if not same_nearest(ld.minimum_distance_to(cloud, V, stride), want):
            bad.append(f"minimum_distance_to(stride={stride})")
    if not same_neighbours(dask.compute(*ld.query(cloud, da.from_array(SPECIAL, chunks=(5, 3)), 3)),
                           KDTree(rows).query(SPECIAL, 3)):
        bad.append("query")
    return bad


def same_neighbours(got, want):
    """Bit for bit, in shape and dtype, as the tree's (distances, indices)."""
    return [(a.shape, a.dtype.str, a.tobytes()) for a in got] == [
        (np.asarray(a).shape, np.asarray(a).dtype.str, np.asarray(a).tobytes()) for a in want]


def same_nearest(got, want):
    return got[0] == want[0] and bits(got[1]) == bits(want[1])


def chunking(n, cuts):  # n rows cut by the sizes in cuts, repeated as needed
    chunks = []
    while sum(chunks) < n:
        chunks.append(min(cuts[len(chunks) % len(cuts)], n - sum(chunks)))
    return tuple(chunks)


@pytest.mark.parametrize("rows, chunks", CLOUDS.values(), ids=CLOUDS.keys())
def test_every_function_matches_one_list(rows, chunks):
    with dask.config.set(scheduler="sync"):
        assert mismatches(rows, chunks) == []


def test_threaded_scheduler():
    with dask.config.set(scheduler="threads"):
        assert mismatches(*CLOUDS["uneven"]) == []


# Few distinct coordinates and NaN: many ties for nearest, straddling chunk boundaries.
@settings(max_examples=60, deadline=None)
@given(st.lists(st.tuples(*[st.sampled_from([0.0, 1.0, -1.0, 2.0, np.nan])] * 3), min_size=1, max_size=60),
       st.lists(st.integers(1, 4), min_size=1, max_size=30), st.integers(1, 65))
def test_nearest_any_chunking(points, cuts, stride):
    rows = np.array(points)
    with dask.config.set(scheduler="sync"):
        got = ld.minimum_distance_to(da.from_array(rows, chunks=(chunking(len(rows), cuts), 3)), Vec3d(0, 1, 0), stride)
    assert same_nearest(got, VecList.from_array(rows).minimum_distance_to(Vec3d(0, 1, 0), stride))


def test_nearest_at_the_end_of_the_window():  # samples 0, 3, 6, 9: 6 wins, and 3..8 holds the nearest last
    rows = np.array([[x, 0, 0] for x in (10, 10, 10, 10, 10, 10, 3, 10, 1, 10)], float)
    with dask.config.set(scheduler="sync"):
        assert ld.minimum_distance_to(da.from_array(rows, chunks=((4, 6), 3)), Vec3d(0, 0, 0), 3) == (8, 1.0)


def test_nearest_found_in_every_chunk():
    rows = np.arange(210.0).reshape(70, 3)
    cloud = da.from_array(rows, chunks=((1,) * 70, 3))  # 70 candidates: a tree of two levels
    with dask.config.set(scheduler="sync"):
        assert [ld.minimum_distance_to(cloud, Vec3d(*row), 1)[0] for row in rows] == list(range(70))


# k nearest. From the origin, rows 3, 5 and 6 tie at key 1; row 0's key is 1 + 2**-52, whose square
# root is 1.0 as well, so only the keys put it behind them; rows 2 and 7 are duplicates; rows 1 and
# 9 have NaN keys, and row 4 does from (inf, 0, 0), where the other keys are inf and tie.
NEIGHBOURS = np.array([[1, 2**-26, 0], [np.nan, 0, 0], [2, 0, 0], [0, -1, 0], [np.inf, 0, 0], [1, 0, 0],
                       [-0.0, 1, -0.0], [2, 0, 0], [0.5, 0.5, 0.5], [np.nan] * 3])
QUERIES = np.array([[0, 0, 0], [np.nan, 0, 0], [1, 1, 1], [np.inf, 0, 0], [-0.0, 0, -0.0], [0.5, 0.5, 0.5]])


@pytest.mark.parametrize("k", [1, 4, 12])
@pytest.mark.parametrize("cloud_chunks, query_chunks", [((10,), (6,)), ((1,) * 10, (1, 5)), ((4, 0, 6), (2, 2, 2)),
                                                        ((3, 3, 4), ((2, 4), (2, 1)))])
def test_query_matches_one_tree(cloud_chunks, query_chunks, k):
    cloud = da.from_array(NEIGHBOURS, chunks=(cloud_chunks, 3))
    queries = da.from_array(QUERIES, chunks=query_chunks if isinstance(query_chunks[0], tuple) else (query_chunks, 3))
    with dask.config.set(scheduler="sync"):
        assert same_neighbours(dask.compute(*ld.query(cloud, queries, k)), KDTree(NEIGHBOURS).query(QUERIES, k))


def bounded(answer, r, n):
    """One tree's (distances, indices), places farther than a finite r (or NaN) padded with (inf, n)."""
    d, i = (np.asarray(a) for a in answer)
    far = ~(d <= r) & (r < np.inf)
    return np.where(far, np.inf, d), np.where(far, n, i)


COORDINATES = st.sampled_from([0.0, 1.0, -1.0, 2.0, 0.5, np.nan, np.inf])  # ties on boxes' edges, NaN, inf


# Any partitioning and chunking, against one tree: ties, NaN and inf points and queries, padding.
@settings(max_examples=80, deadline=None)
@given(st.lists(st.tuples(*[COORDINATES] * 3), max_size=40), st.lists(st.tuples(*[COORDINATES] * 3), min_size=1,
       max_size=8), st.lists(st.integers(0, 5), min_size=1, max_size=20), st.integers(1, 9), st.integers(1, 7),
       st.sampled_from([np.inf, 0.0, 1.0, 2.5]))
def test_tree_any_partitioning(points, queries, cuts, k, partitions, r):
    rows, chunks, queries = np.array(points).reshape(-1, 3), [], np.array(queries)
    for cut in cuts:  # empty chunks included
        chunks.append(min(cut, len(rows) - sum(chunks)))
    chunks.append(len(rows) - sum(chunks))
    with dask.config.set(scheduler="sync"):
        tree = ld.KDTree(da.from_array(rows, chunks=(tuple(chunks), 3)), partitions=partitions)
        *got, counts = dask.compute(*tree.query(da.from_array(queries, chunks=(3, 3)), k, r),
                                    tree.count_radius(queries, r))
    one = KDTree(rows)
    assert same_neighbours(got, bounded(one.query(queries, k), r, len(rows)))
    assert counts.tolist() == np.diff(np.asarray(one.query_radius(queries, r)[1])).tolist()


@pytest.mark.parametrize("partitions", [2, 5, 10])
def test_tree_bounds_on_a_grid(partitions):
    # A 4 x 4 x 4 grid in shuffled order, queried at every half: a query near a cut ties points of
    # two pieces, at a box's edge or one face away, or has its k-th neighbour one place beyond the
    # other piece's box.
    grid = np.stack(np.meshgrid(*[np.arange(4.0)] * 3, indexing="ij"), axis=-1).reshape(-1, 3)
    rows = grid[np.random.default_rng(5).permutation(64)]
    queries = np.stack(np.meshgrid(*[np.arange(-1, 8) / 2] * 3, indexing="ij"), axis=-1).reshape(-1, 3)
    with dask.config.set(scheduler="sync"):
        tree = ld.KDTree(rows, partitions=partitions)
        for k in (1, 2, 3, 5):
            assert same_neighbours(dask.compute(*tree.query(queries, k)), KDTree(rows).query(queries, k))


def test_routing_visits_few_pieces():
    rng = np.random.default_rng(3)
    uniform = rng.uniform(0, 1, (100_000, 3))
    clusters = (rng.normal(0, 0.01, (100_000, 3)) + rng.uniform(0, 1, (5, 3))[rng.integers(0, 5, 100_000)])
    with dask.config.set(scheduler="sync"):
        for cloud, most in ((uniform, 1.2), (clusters, 2.0)):  # mean pieces visited per query, of 8
            tree = ld.KDTree(cloud, partitions=8)
            queries = cloud[::50] + rng.normal(0, 1e-3, (2_000, 3))
            for k in (1, 8):
                *got, visits = dask.compute(*tree.query(queries, k), tree.pieces_visited(queries, k))
                assert same_neighbours(got, KDTree(cloud).query(queries, k))
                assert 1 <= visits.mean() <= most


# Ties on voxel edges, -0.0 (a voxel of -0.0 alone has mean +0.0), NaN and inf rows, a crowded voxel.
@settings(max_examples=60, deadline=None)
@given(st.lists(st.tuples(*[st.sampled_from([0.0, -0.0, 1.0, 0.25, -2.5, 1e-3, 7.0, np.nan, np.inf])] * 3),
                max_size=60), st.lists(st.integers(1, 20), min_size=1, max_size=10),
       st.sampled_from([0.5, 1.0, 3.0, 1e-3]), st.booleans())
def test_voxel_down_sample_any_chunking(points, cuts, size, crowded):
    rows = np.array(points + [(0.1 + 2**-40, 0.2, 0.3), (0.1, 0.2, 0.3 + 1e-9)] * 50 * crowded).reshape(-1, 3)
    with dask.config.set(scheduler="sync"):
        got = ld.voxel_down_sample(da.from_array(rows, chunks=(chunking(len(rows), cuts) or (0,), 3)), size).compute()
    want = np.asarray(VecList.from_array(rows).voxel_down_sample(size))
    assert (got.shape, got.tobytes()) == (want.shape, want.tobytes())


@given(st.lists(st.tuples(*[st.floats(-1e200, 1e200) | st.sampled_from([0.0, -0.0, np.nan, np.inf])] * 6),
                min_size=1, max_size=20))
def test_merge_keys_are_the_trees(pairs):
    from lumeric_dask._query import squared_distances

    points, queries = np.array(pairs)[:, :3], np.array(pairs)[:, 3:]
    want = [Vec3d(*p).distance_squared(Vec3d(*q)) for p, q in zip(points, queries)]
    assert same_fields(squared_distances(points[:, None], queries)[:, 0].tolist(), want)


def test_query_of_rows_known_only_to_the_blocks():
    queries = da.from_array(QUERIES, chunks=(4, 3))
    some = queries[queries[:, 0] > 0]  # shape (nan, 3)
    with dask.config.set(scheduler="sync"):
        got = dask.compute(*ld.query(da.from_array(NEIGHBOURS, chunks=(3, 3)), some, 2))
    assert same_neighbours(got, KDTree(NEIGHBOURS).query(QUERIES[QUERIES[:, 0] > 0], 2))


ONE = VecList([Vec3d(1, 2, 3)])
TREE = KDTree(ONE)
CLOUD = da.from_array(SPECIAL, chunks=(5, 3))
ERRORS = [  # (our call, the same mistake made on a VecList)
    (lambda: ld.normalize(da.zeros((4, 2))), lambda: VecList.from_array(np.zeros((4, 2)))),
    (lambda: ld.magnitude(da.zeros(4)), lambda: VecList.from_array(np.zeros(4))),
    (lambda: ld.dot(da.zeros((4, 3), dtype=bool), V), lambda: VecList.from_array(np.zeros((4, 3), bool))),
    (lambda: ld.add(da.zeros((4, 3), dtype=">f8"), V), lambda: VecList.from_array(np.zeros((4, 3), ">f8"))),
    (lambda: ld.dot(CLOUD, 3), lambda: ONE.dot(3)),
    (lambda: ld.rotate(CLOUD, V), lambda: ONE.rotate(V)),
    (lambda: ld.collapse(CLOUD, 3), lambda: ONE.collapse(3)),
    (lambda: ld.mul(CLOUD, "x"), lambda: ONE * "x"),
    (lambda: ld.minimum_distance_to(CLOUD, V, 1.5), lambda: ONE.minimum_distance_to(V, 1.5)),
    (lambda: ld.minimum_distance_to(CLOUD, None, 0), lambda: ONE.minimum_distance_to(None, 0)),
    (lambda: ld.minimum_distance_to(CLOUD[:0], V, 2), lambda: VecList.empty().minimum_distance_to(V, 2)),
    (lambda: ld.query(CLOUD, CLOUD, 1.5), lambda: TREE.query(SPECIAL, 1.5)),
    (lambda: ld.query(CLOUD, SPECIAL, 0), lambda: TREE.query(SPECIAL, 0)),
    (lambda: ld.query(CLOUD, da.zeros((4, 2)), 1), lambda: TREE.query(np.zeros((4, 2)), 1)),
    (lambda: ld.query(CLOUD, "abc"), lambda: TREE.query("abc")),
    (lambda: ld.query(da.zeros((4, 3), dtype=bool), SPECIAL), lambda: KDTree(np.zeros((4, 3), bool))),
    (lambda: ld.KDTree(np.zeros((4, 2))), lambda: KDTree(np.zeros((4, 2)))),
    (lambda: ld.KDTree(SPECIAL).count_radius(SPECIAL, -1.0), lambda: TREE.query_radius(SPECIAL, -1.0)),
    (lambda: ld.KDTree(SPECIAL).count_radius(np.zeros((2, 4)), 1.0), lambda: TREE.query_radius(np.zeros((2, 4)), 1.0)),
]


@pytest.mark.parametrize("ours, lists", ERRORS)
def test_errors_at_call_time_in_the_lists_words(ours, lists):
    with pytest.raises(BaseException) as expected:
        lists()
    with pytest.raises(expected.type, match=f"^{re.escape(str(expected.value))}$"):
        ours()


KEEP_TWO = da.from_array(np.array([True, True, False]))
SOME_ROWS = CLOUD[CLOUD[:, 0] > 0]  # shape (nan, 3): rows known only to the blocks


@pytest.mark.parametrize("call, error, text", [
    (lambda: ld.minimum_distance_to(CLOUD, V, 0), ValueError, "stride must be at least 1"),
    (lambda: ld.normalize(SPECIAL), TypeError, "must be a dask array"),
    # Shapes dask cannot know yet are named as dask reports them, never as a stand-in's.
    (lambda: ld.normalize(CLOUD[:, KEEP_TWO]), ValueError, r"column count is unknown \(shape \(16, nan\)\)"),
    (lambda: ld.normalize(SOME_ROWS[:, :2]), ValueError, r"^from_array\(\) expects shape \(n, 3\), got \(nan, 2\)$"),
    (lambda: ld.query(SOME_ROWS, SPECIAL), ValueError, "needs the cloud's chunk sizes"),
    (lambda: ld.query(CLOUD, SOME_ROWS[:, :2], 2), ValueError, r"got \(nan, 2\)$"),
    (lambda: ld.KDTree(CLOUD, partitions=0), ValueError, "partitions must be at least 1, got 0"),
    (lambda: ld.KDTree(CLOUD, partitions=2.0), TypeError, "partitions must be an integer or None, not 'float'"),
    (lambda: ld.KDTree(SPECIAL).query(SPECIAL, 2, np.nan), ValueError, "^max_distance must be a non-negative number"),
    (lambda: ld.voxel_down_sample(CLOUD, 0.0), ValueError, "size must be finite and above 0, got 0.0"),
    (lambda: ld.voxel_down_sample(np.array([[0, 0, 0], [1e300, 0, 0]]), 1e-300), ValueError, r"exceed 2\*\*62"),
])
def test_errors_of_our_own(call, error, text):
    with pytest.raises(error, match=text):
        call()


with_workers = pytest.mark.skipif(hasattr(sys, "gettotalrefcount") or "libasan" in os.environ.get("LD_PRELOAD", ""),
                                  reason="worker processes are too slow under the debug interpreter or the sanitizers")


def test_dask_is_imported_only_when_used():
    assert run_child("import sys, lumeric_dask; print('dask' in sys.modules)") == ["False"]


@with_workers
def test_distributed_cluster():
    pytest.importorskip("distributed")
    # A child process bounds the whole run, and takes the cluster's processes and threads with it.
    assert run_child(f"""
        import sys, distributed
        sys.path.insert(0, {str(Path(__file__).parent)!r})
        from test_dask import CLOUDS, mismatches
        with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                      dashboard_address=None) as cluster, distributed.Client(cluster):
            print(*[name for key in ("uneven", "columns", "int16") for name in mismatches(*CLOUDS[key])] or ["none"])
        """, RAYON_NUM_THREADS="1") == ["none"]


@with_workers
def test_worker_killed_mid_query():
    pytest.importorskip("distributed")
    # The pieces the dead worker held are built again from their lineage: the same bits.
    assert run_child("""
        import os, signal, time, dask.array as da, distributed, numpy as np, lumeric_dask as ld
        from lumeric_py import KDTree
        rng = np.random.default_rng(4)
        points, queries = rng.uniform(0, 1, (400_000, 3)), rng.uniform(0, 1, (1_000_000, 3))
        with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                      dashboard_address=None) as cluster, distributed.Client(cluster) as client:
            tree = ld.KDTree(da.from_array(points, chunks=(100_000, 3)), partitions=4)
            futures = client.compute(list(tree.query(queries, 8)))
            time.sleep(0.5)
            victim = next(iter(client.who_has()[tree._pieces[0].key]))
            print("running" if not any(f.done() for f in futures) else "finished-too-soon")
            os.kill(client.run(os.getpid)[victim], signal.SIGKILL)
            got, want = client.gather(futures), KDTree(points).query(queries, 8)
            print(all(np.asarray(g).tobytes() == np.asarray(w).tobytes() for g, w in zip(got, want)))
        """, RAYON_NUM_THREADS="1", DASK_LOGGING__DISTRIBUTED="critical") == ["running", "True"]  # the death is expected


def test_plot_renders_every_chart(tmp_path):
    rows = [{"operation": "dot", "ours": 50.0, "PyGLM": 70.0}]
    sizes = {str(n): [{"operation": "normalize", "ours": n * 1.0, "numpy": n * 3.0}] for n in (1000, 100000)}
    fixtures = {"bench_vec3d": {"per_call": [{"title": "Vec3d per call", "rows": rows}]},
                "bench_vec_list": {"sizes": sizes, "workers": {"normalize": {"1": 4e6, "2": 2e6}}},
                "bench_dask": {"n": 1000, "chunks": 4, "rows": [{"operation": "normalize", "setup": "(a)",
                                                                 "total": 9.0, "parts": {"compute": 5.0}}]},
                "bench_spatial": {"n": 1000, "rows": [{"operation": "build", "ours": 50.0, "pykdtree": 90.0}],
                                  "hard": {"line": {"build": 60.0}}},
                "bench_cloud": {"n": 1000, "clouds": {"uniform": [{"operation": "take 10%", "peer": "numpy",
                                                                   "ours": 1.0, "theirs": 4.0}]}},
                "bench_dask_tree": {"n": 1000, "rows": [{"cloud": "uniform", "pieces": 2, "build": 1.0, "query k=1": 2.0,
                                                         "query k=8": 3.0, "visits k=1": 1.1, "visits k=8": 1.2}]}}
    for name, data in fixtures.items():
        (tmp_path / f"{name}.json").write_text(json.dumps(data))
    script = Path(__file__).parents[1] / "bench" / "plot.py"
    subprocess.run([sys.executable, str(script), "--input", str(tmp_path), "--output", str(tmp_path)], check=True,
                   timeout=120, env=dict(os.environ, MPLBACKEND="Agg"))
    charts = sorted(tmp_path.glob("*.png"))
    assert len(charts) == 7 and all(p.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" for p in charts)
