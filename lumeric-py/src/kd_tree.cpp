// kd_tree.cpp: the Python class `KDTree`.
//
//     class KDTree:                                   # not in __all__
//         def __new__(cls, points) -> KDTree          # a VecList or what from_array takes; copied
//         query(x, k=1, max_distance=math.inf)        # k nearest, ranked exactly (spatial/tree.hpp),
//             x a Vec3d:  (distance, index), or        # among those within max_distance
//                         (distances, indices) lists when k > 1
//             x m rows:   (distances, indices) memoryviews 'd' and 'q', shape (m,) or (m, k)
//         query_radius(x, r)                          # indices within distance r, ascending
//             x a Vec3d:  list[int]
//             x m rows:   (indices, offsets) memoryviews 'q'; offsets has m + 1 entries
//         count_radius(x, r)                          # len(query_radius(x, r)), no lists made
//             x a Vec3d:  int;  x m rows: memoryview 'q', shape (m,)
//         normals(k=30, *, max_distance=math.inf, toward=None) -> VecList   # spatial/normals.hpp
//         statistical_inliers(k=20, std_ratio=2.0)    # kept indices, memoryview 'q' (spatial/outliers.hpp)
//         radius_inliers(r, min_neighbours)           # kept indices, memoryview 'q'
//         len(tree), repr(tree), copy.copy, copy.deepcopy, pickle
//
// Missing places of k nearest are (inf, len(tree)). Batches run on the pool.
#include "kd_tree.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "frame/array_result.hpp"
#include "frame/define.hpp"
#include "frame/record.hpp"
#include "frame/ref.hpp"
#include "spatial/normals.hpp"
#include "spatial/outliers.hpp"
#include "vec3d.hpp"
#include "vec_list.hpp"
#include "vec_list_array.hpp"

namespace lumeric {

using spatial::KdTree;
using tovrin::Vec3d;

// An integer of at least Least named Param ("k must be at least 1, got 0"); values beyond 64 bits
// saturate (a count beyond memory fails when the result is made).
template <Name Param, long long Least>
struct AtLeast {
    std::uint64_t value;
};
using NeighbourCount = AtLeast<"k", 1>;

template <Name Param, long long Least>
struct Arg<AtLeast<Param, Least>> {
    AtLeast<Param, Least> value{};
    bool load(PyObject* op) noexcept {
        PyObject* given = PyNumber_Index(op);
        if (given == nullptr) return false;
        const Ref number = Ref::adopt(given);
        int overflow = 0;
        const long long k = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
        if (k == -1 && PyErr_Occurred()) return false;
        if (overflow < 0 || (overflow == 0 && k < Least)) {
            PyErr_Format(PyExc_ValueError, "%s must be at least %lld, got %S", Param.c_str(), Least, number.get());
            return false;
        }
        value.value = overflow > 0 ? ~std::uint64_t{0} : static_cast<std::uint64_t>(k);
        return true;
    }
    AtLeast<Param, Least> get() const noexcept { return value; }
};

// A distance named Param: a non-negative float or inf ("r must be a non-negative number, got nan").
template <Name Param>
struct Distance {
    double value;
};

template <Name Param>
struct Arg<Distance<Param>> {
    Arg<double> given;
    bool load(PyObject* op) noexcept {
        if (!given.load(op)) return false;
        if (given.get() >= 0) return true;
        if (PyObject* made = PyFloat_FromDouble(given.get())) {
            const Ref value = Ref::adopt(made);
            PyErr_Format(PyExc_ValueError, "%s must be a non-negative number, got %R", Param.c_str(), value.get());
        }
        return false;
    }
    Distance<Param> get() const noexcept { return {given.get()}; }
};

// A finite float named Param ("std_ratio must be a finite number, got inf").
template <Name Param>
struct FiniteNumber {
    double value;
};

template <Name Param>
struct Arg<FiniteNumber<Param>> {
    Arg<double> given;
    bool load(PyObject* op) noexcept {
        if (!given.load(op)) return false;
        if (std::isfinite(given.get())) return true;
        if (PyObject* made = PyFloat_FromDouble(given.get())) {
            const Ref value = Ref::adopt(made);
            PyErr_Format(PyExc_ValueError, "%s must be a finite number, got %R", Param.c_str(), value.get());
        }
        return false;
    }
    FiniteNumber<Param> get() const noexcept { return {given.get()}; }
};

// A Vec3d or None.
struct OptionalPoint {
    std::optional<Vec3d> value;
};

template <>
struct Arg<OptionalPoint> {
    Arg<Vec3d> given;
    bool none = true;
    bool load(PyObject* op) noexcept {
        none = op == Py_None;
        return none || given.load(op);
    }
    OptionalPoint get() const { return none ? OptionalPoint{} : OptionalPoint{given.get()}; }
};

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
    PyObject* object;
};
struct BallAnswer {
    PyObject* object;
};
struct CountAnswer {
    PyObject* object;
};
struct KeptIndices {
    PyObject* object;
};
inline PyObject* to_python(KeptIndices answer) { return answer.object; }
inline PyObject* to_python(NearestAnswer answer) { return answer.object; }
inline PyObject* to_python(BallAnswer answer) { return answer.object; }
inline PyObject* to_python(CountAnswer answer) { return answer.object; }

namespace record {
template <Name Param, long long Least>
struct Annotation<AtLeast<Param, Least>> : Annotation<Index> {};
template <Name Param>
struct Annotation<Distance<Param>> : Annotation<double> {};
template <Name Param>
struct Annotation<FiniteNumber<Param>> : Annotation<double> {};
template <>
struct Annotation<OptionalPoint> {
    static constexpr std::string text() { return either(Annotation<Vec3d>::text(), none_expr()); }
};
template <>
struct Annotation<KeptIndices> : Annotation<MemoryView> {};
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
    vec_array::RowsView rows(points);
    return KdTree(rows.items());
}

std::size_t size(const KdTree& tree) noexcept { return tree.size(); }

std::string repr(const KdTree& tree) { return "KDTree(n=" + std::to_string(tree.size()) + ")"; }

// (first, second) from two new references, both given up whatever happens.
PyObject* pair_of(PyObject* first, PyObject* second) {
    PyObject* pair = PyTuple_Pack(2, first, second);
    Py_DECREF(first);
    Py_DECREF(second);
    return checked(pair);
}

std::optional<Vec3d> single(PyObject* x) {
    if (!is_instance<Vec3d>(x)) return std::nullopt;
    Arg<Vec3d> point;
    if (!point.load(x)) throw PythonError{};
    return point.get();
}

// A new list of `length` items: the converted `values`, then `pad` (borrowed) in every other place.
template <class T>
PyObject* padded_list(const std::vector<T>& values, std::size_t length, PyObject* pad) {
    PyObject* list = checked(PyList_New(static_cast<Py_ssize_t>(length)));
    std::size_t k = 0;
    try {
        for (; k < values.size(); ++k) PyList_SET_ITEM(list, k, to_python(values[k]));
    } catch (...) {
        Py_DECREF(list);  // unset items are NULL, which list deallocation skips
        throw;
    }
    for (; k < length; ++k) PyList_SET_ITEM(list, k, Py_NewRef(pad));
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
        std::vector<std::uint64_t> indices(found.begin(), found.end());
        const double inf = std::numeric_limits<double>::infinity();
        if (k == 1) return {to_python(room == 1 ? std::pair(distances[0], indices[0]) : std::pair(inf, std::uint64_t{0}))};
        PyObject* far = to_python(inf);
        PyObject* missing = PyLong_FromSize_t(tree.size());
        PyObject* lists[2] = {nullptr, nullptr};
        try {
            if (missing == nullptr) raise_pending();
            lists[0] = padded_list(distances, k, far);
            lists[1] = padded_list(indices, k, missing);
        } catch (...) {
            Py_XDECREF(lists[0]);
            Py_DECREF(far);
            Py_XDECREF(missing);
            throw;
        }
        Py_DECREF(far);
        Py_DECREF(missing);
        return {pair_of(lists[0], lists[1])};
    }
    vec_array::RowsView rows({x.object});
    const std::size_t m = rows.items().size(), columns = k == 1 ? 0 : k;
    ArrayResult<double> distances(m, columns);
    ArrayResult<std::int64_t> indices(m, columns);
    tree.nearest(rows.items(), k, distances.data(), indices.data(), max_distance);
    PyObject* first = distances.release();
    PyObject* second;
    try {
        second = indices.release();
    } catch (...) {
        Py_DECREF(first);
        throw;
    }
    return {pair_of(first, second)};
}

BallAnswer query_radius(const KdTree& tree, QueryPoints x, Distance<"r"> radius) {
    const double r = radius.value;
    if (std::optional<Vec3d> point = single(x.object)) {
        std::vector<std::int64_t> found;
        tree.within(*point, r, found);
        return {to_python(std::vector<std::uint64_t>(found.begin(), found.end()))};
    }
    vec_array::RowsView rows({x.object});
    const std::size_t m = rows.items().size();
    ArrayResult<std::int64_t> offsets(m + 1, 0);
    std::optional<ArrayResult<std::int64_t>> indices;
    tree.within(rows.items(), r, offsets.data(), [&](std::size_t total) {
        indices.emplace(total, 0);
        return indices->data();
    });
    PyObject* first = indices->release();
    PyObject* second;
    try {
        second = offsets.release();
    } catch (...) {
        Py_DECREF(first);
        throw;
    }
    return {pair_of(first, second)};
}

CountAnswer count_radius(const KdTree& tree, QueryPoints x, Distance<"r"> radius) {
    if (std::optional<Vec3d> point = single(x.object))
        return {to_python(std::uint64_t{tree.count_within(*point, radius.value)})};
    vec_array::RowsView rows({x.object});
    ArrayResult<std::int64_t> counts(rows.items().size(), 0);
    tree.count_within(rows.items(), radius.value, counts.data());
    return {counts.release()};
}

VecListData normals(const KdTree& tree, Defaulted<NeighbourCount, 30> count,
                    KeywordOnly<Defaulted<Distance<"max_distance">, unbounded>> bound,
                    KeywordOnly<Defaulted<OptionalPoint, nullptr>> toward) {
    require_room(tree.size(), sizeof(Vec3d));
    Vectors out(tree.size());
    spatial::normals(tree, count.value, bound.value, toward.value, out.data());
    return {std::move(out)};
}

// The kept indices, ascending, as a read-only memoryview 'q'.
KeptIndices index_view(const std::vector<std::int64_t>& kept) {
    ArrayResult<std::int64_t> view(kept.size(), 0);
    if (!kept.empty()) std::memcpy(view.data(), kept.data(), kept.size() * sizeof(std::int64_t));
    return {view.release()};
}

KeptIndices statistical_inliers(const KdTree& tree, Defaulted<NeighbourCount, 20> count,
                                Defaulted<FiniteNumber<"std_ratio">, 2.0> std_ratio) {
    return index_view(spatial::statistical_inliers(tree, count.value, std_ratio.value));
}

KeptIndices radius_inliers(const KdTree& tree, Distance<"r"> radius, AtLeast<"min_neighbours", 0> least) {
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
    const Vectors points = vec_array::copy_vectors(state.data(), state.size() / sizeof(Vec3d));
    return KdTree(points);
}

PyType_Spec* kd_tree_spec() {
    return K::build<Constructor>(
        K::methods(
            K::method<"query", &query, "x", "k", "max_distance">(),
            K::method<"query_radius", &query_radius, "x", "r">(),
            K::method<"count_radius", &count_radius, "x", "r">(),
            K::method<"normals", &normals, "k", "max_distance", "toward">(),
            K::method<"statistical_inliers", &statistical_inliers, "k", "std_ratio">(),
            K::method<"radius_inliers", &radius_inliers, "r", "min_neighbours">(),
            K::copy_and_pickle()),
        K::properties(),
        K::op<Py_tp_repr, &repr>(),
        K::length<&size>());
}

}  // namespace lumeric
