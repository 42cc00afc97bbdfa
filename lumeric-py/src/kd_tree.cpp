// kd_tree.cpp: the Python class `KDTree`.
//
//     class KDTree:                                   # not in __all__
//         def __new__(cls, points) -> KDTree          # a VecList or what from_array takes; copied
//         query(x, k=1, max_distance=math.inf)        # k nearest, ranked exactly (spatial/tree.hpp),
//             x a Vec3d:  (distance, index), or        # among the points within max_distance
//                         (distances, indices) lists when k > 1
//             x m rows:   (distances, indices) memoryviews 'd' and 'q', shape (m,) or (m, k)
//         query_radius(x, r)                          # indices within distance r, ascending
//             x a Vec3d:  list[int]
//             x m rows:   (indices, offsets) memoryviews 'q'; offsets has m + 1 entries
//         icp(source, max_distance, init=None, iterations=30, relative_fitness=1e-06,
//             relative_rmse=1e-06, normals=None) -> IcpResult       # the source registered
//             onto the tree's points (spatial/icp.hpp); init None is the identity; with the
//             tree's normals point-to-plane, else point-to-point
//         count_radius(x, r)                          # len(query_radius(x, r)), no lists made
//             x a Vec3d:  int;  x m rows: memoryview 'q', shape (m,)
//         normals(k=30, *, max_distance=math.inf, toward=None) -> VecList   # spatial/normals.hpp
//         statistical_inliers(k=20, std_ratio=2.0)    # kept indices: memoryview 'q' (spatial/outliers.hpp)
//         radius_inliers(r, min_neighbours)           # kept indices: memoryview 'q'
//         len(tree), repr(tree), copy.copy, copy.deepcopy, pickle
//         sys.getsizeof(tree)                         # counts the arrays it holds, cylinders too
//
// Missing places of k nearest are (inf, len(tree)). Batches run on the pool.
#include "kd_tree.hpp"

#include <tovrin/format.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "frame/checked_numbers.hpp"
#include "frame/result_view.hpp"
#include "frame/define.hpp"
#include "frame/record.hpp"
#include "transform.hpp"
#include "spatial/normals.hpp"
#include "spatial/outliers.hpp"
#include "vec3d.hpp"
#include "vec_list.hpp"
#include "vec_list_array.hpp"

namespace lumeric {

using spatial::KdTree;
using tovrin::Vec3d;

constexpr double unbounded = std::numeric_limits<double>::infinity();

// The query argument: one Vec3d, or rows as `from_array` takes them.
struct QueryPoints {
    PyObject* object;
};

template <>
struct Arg<QueryPoints> : Arg<PyObject*> {
    QueryPoints get() const noexcept { return {value}; }
};

// The two result forms of each query, already Python objects.
struct NearestAnswer {
    Ref object;
};
struct BallAnswer {
    Ref object;
};
struct CountAnswer {
    Ref object;
};
inline PyObject* to_python(CountAnswer&& answer) { return answer.object.release(); }
inline PyObject* to_python(NearestAnswer&& answer) { return answer.object.release(); }
inline PyObject* to_python(BallAnswer&& answer) { return answer.object.release(); }

namespace record {
template <>
struct Annotation<CountAnswer> {
    static constexpr std::string text() { return either(annotation<std::uint64_t>(), annotation<MemoryView>()); }
};
template <>
struct Annotation<QueryPoints> {
    static constexpr std::string text() { return either(Annotation<Vec3d>::text(), Annotation<RowsSource>::text()); }
};
template <>
struct Annotation<NearestAnswer> {
    static constexpr std::string text() {
        const std::string views = annotation<std::pair<MemoryView, MemoryView>>();
        return either(either(annotation<std::pair<double, std::uint64_t>>(),
                             annotation<std::pair<std::vector<double>, std::vector<std::uint64_t>>>()),
                      views);
    }
};
template <>
struct Annotation<BallAnswer> {
    static constexpr std::string text() {
        return either(annotation<std::vector<std::uint64_t>>(), annotation<std::pair<MemoryView, MemoryView>>());
    }
};
}  // namespace record

namespace {

using K = ClassDef<KdTree, "KDTree">;

KdTree build(RowsSource points) {
    // A copy made from an array becomes the tree's own points, so it is never held twice.
    if (!is_instance<VecListData>(points.object)) return KdTree(vec_array::from_array(points).items);
    vec_array::RowsView rows(points);
    return KdTree(rows.items());
}

std::size_t size(const KdTree& tree) noexcept { return tree.size(); }
std::size_t owned_bytes(const KdTree& tree) noexcept { return tree.owned_bytes(); }

std::string repr(const KdTree& tree) { return "KDTree(n=" + std::to_string(tree.size()) + ")"; }

std::optional<Vec3d> single(PyObject* x) {
    if (!is_instance<Vec3d>(x)) return std::nullopt;
    Arg<Vec3d> point;
    if (!point.load(x)) throw PythonError{};
    return point.get();
}

// A new list of `length` items: the converted `values`, then `pad` in every other place.
template <class T>
Ref padded_list(const std::vector<T>& values, std::size_t length, const Ref& pad) {
    Ref list = steal(PyList_New(static_cast<Py_ssize_t>(length)));
    std::size_t k = 0;
    // Until then the unset items are NULL, which the list's deallocation skips.
    for (; k < values.size(); ++k) PyList_SET_ITEM(list.get(), k, to_python(values[k]));
    for (; k < length; ++k) PyList_SET_ITEM(list.get(), k, Py_NewRef(pad.get()));
    return list;
}

NearestAnswer query(const KdTree& tree, QueryPoints x, Defaulted<NeighbourCount, 1> count,
                    Defaulted<Distance<"max_distance">, unbounded> bound) {
    const std::size_t k = count.value;
    const double max_distance = bound.value;
    if (std::optional<Vec3d> point = single(x.object)) {
        // Only the places the points fill are searched; the rest of the two lists shares one
        // padding object each. The lists themselves must fit.
        require_room(k, 2 * sizeof(PyObject*));
        const std::size_t room = std::min<std::size_t>(k, tree.size());
        std::vector<KdTree::Entry> scratch(room);
        std::vector<double> distances(room);
        std::vector<std::int64_t> found(room);
        tree.nearest(*point, room, scratch, distances.data(), found.data(), max_distance);
        const std::vector<std::uint64_t> indices(found.begin(), found.end());
        const double inf = std::numeric_limits<double>::infinity();
        if (k == 1) return {steal(to_python(room == 1 ? std::pair(distances[0], indices[0]) : std::pair(inf, std::uint64_t{0})))};
        const Ref far = steal(to_python(inf));
        const Ref missing = steal(PyLong_FromSize_t(tree.size()));
        return {tuple_of(padded_list(distances, k, far), padded_list(indices, k, missing))};
    }
    vec_array::RowsView rows({x.object});
    const std::size_t m = rows.items().size(), columns = k == 1 ? 0 : k;
    // Both arrays must fit together; checked before either is allocated.
    require_room({ResultView<double>::extent(m, columns), ResultView<std::int64_t>::extent(m, columns)});
    std::pair answer(ResultView<double>(m, columns), ResultView<std::int64_t>(m, columns));
    tree.nearest(rows.items(), k, answer.first.data(), answer.second.data(), max_distance);
    return {steal(to_python(std::move(answer)))};
}

BallAnswer query_radius(const KdTree& tree, QueryPoints x, Distance<"r"> radius) {
    const double r = radius.value;
    if (std::optional<Vec3d> point = single(x.object)) {
        std::vector<std::int64_t> found;
        tree.within(*point, r, found);
        return {steal(to_python(std::vector<std::uint64_t>(found.begin(), found.end())))};
    }
    vec_array::RowsView rows({x.object});
    ResultView<std::int64_t> offsets(rows.items().size() + 1, 0);
    std::optional<ResultView<std::int64_t>> indices;
    tree.within(rows.items(), r, offsets.data(), [&](std::size_t total) {
        // The offsets and the indices must fit together.
        require_room({ResultView<std::int64_t>::extent(rows.items().size() + 1, 0),
                      ResultView<std::int64_t>::extent(total, 0)});
        indices.emplace(total, 0);
        return indices->data();
    });
    return {steal(to_python(std::pair(std::move(*indices), std::move(offsets))))};
}

AsStructSequence<spatial::IcpResult> icp(const KdTree& tree, RowsSource source, double max_distance,
                                         KeywordOnly<OrNone<tovrin::Transform>> init,
                                         KeywordOnly<Defaulted<Index, 30>> iterations,
                                         KeywordOnly<FloatDefault<"1e-06">> relative_fitness,
                                         KeywordOnly<FloatDefault<"1e-06">> relative_rmse,
                                         KeywordOnly<OrNone<RowsSource>> normals) {
    if (!(max_distance > 0)) {
        PyErr_Format(PyExc_ValueError, "icp(): max_distance must be a positive number, got %s",
                     tovrin::format_double(max_distance).c_str());
        throw PythonError{};
    }
    vec_array::RowsView points(source);
    std::optional<vec_array::RowsView> given_normals;
    std::span<const Vec3d> normal_items;
    if (normals.value) {
        normal_items = given_normals.emplace(*normals.value).items();
        if (normal_items.size() != tree.size()) {
            PyErr_Format(PyExc_ValueError, "icp(): normals must have one row per point of the tree: got %zu for %zu",
                         normal_items.size(), tree.size());
            throw PythonError{};
        }
    }
    const std::vector<Vec3d> targets = tree.original_points();
    const spatial::IcpOptions options{max_distance, init.value.value_or(tovrin::Transform::identity()),
                                      iterations.value, relative_fitness.value, relative_rmse.value};
    return {spatial::icp(tree, targets, points.items(), options, normal_items)};
}

CountAnswer count_radius(const KdTree& tree, QueryPoints x, Distance<"r"> radius) {
    if (std::optional<Vec3d> point = single(x.object))
        return {steal(to_python(std::uint64_t{tree.count_within(*point, radius.value)}))};
    vec_array::RowsView rows({x.object});
    ResultView<std::int64_t> counts(rows.items().size(), 0);
    tree.count_within(rows.items(), radius.value, counts.data());
    return {counts.release()};
}

VecListData normals(const KdTree& tree, Defaulted<NeighbourCount, 30> count,
                    KeywordOnly<Defaulted<Distance<"max_distance">, unbounded>> bound,
                    KeywordOnly<OrNone<Vec3d>> toward) {
    require_room(tree.size(), sizeof(Vec3d));
    Vectors out(tree.size());
    spatial::normals(tree, count.value, bound.value, toward.value, out.data());
    return {std::move(out)};
}

// The kept indices, ascending.
ResultView<std::int64_t> index_view(const std::vector<std::int64_t>& kept) {
    ResultView<std::int64_t> view(kept.size(), 0);
    if (!kept.empty()) std::memcpy(view.data(), kept.data(), kept.size() * sizeof(std::int64_t));
    return view;
}

ResultView<std::int64_t> statistical_inliers(const KdTree& tree, Defaulted<NeighbourCount, 20> count,
                                             Defaulted<Checked<"std_ratio", Finite>, 2.0> std_ratio) {
    return index_view(spatial::statistical_inliers(tree, count.value, std_ratio.value));
}

ResultView<std::int64_t> radius_inliers(const KdTree& tree, Distance<"r"> radius,
                                        AtLeast<"min_neighbours", 0> least) {
    return index_view(spatial::radius_inliers(tree, radius.value, least.value));
}

using Constructor = K::Constructor<&build, "points">;

}  // namespace

std::vector<unsigned char> PickleState<KdTree>::bytes(const KdTree& tree) {
    const std::vector<Vec3d> points = tree.original_points();
    std::vector<unsigned char> out(points.size() * sizeof(Vec3d));
    if (!out.empty()) std::memcpy(out.data(), points.data(), out.size());
    return out;
}

KdTree PickleState<KdTree>::load(StateBytes state) {
    if (state.size() % sizeof(Vec3d) != 0) malformed_state("KDTree", state.size(), "not a multiple of 24");
    return KdTree(vec_array::copy_vectors(state.data(), state.size() / sizeof(Vec3d)));
}

PyType_Spec* kd_tree_spec() {
    return K::build<Constructor>(
        K::methods(
            K::method<"query", &query, "x", "k", "max_distance">(),
            K::method<"query_radius", &query_radius, "x", "r">(),
            K::method<"icp", &icp, "source", "max_distance", "init", "iterations", "relative_fitness",
                      "relative_rmse", "normals">(),
            K::method<"count_radius", &count_radius, "x", "r">(),
            K::method<"normals", &normals, "k", "max_distance", "toward">(),
            K::method<"statistical_inliers", &statistical_inliers, "k", "std_ratio">(),
            K::method<"radius_inliers", &radius_inliers, "r", "min_neighbours">(),
            K::copy_and_pickle(),
            K::size_of<&owned_bytes>()),
        K::properties(),
        K::op<Py_tp_repr, &repr>(),
        K::length<&size>());
}

}  // namespace lumeric
