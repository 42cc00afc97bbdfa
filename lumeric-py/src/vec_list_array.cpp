// vec_list_array.cpp: VecList from numpy-style buffers and nested sequences, its elements as
// a buffer, and its pickled state.
//
// A C-contiguous float64 input is one memory copy, cut into pieces on the worker pool; any
// other layout or format is gathered element by element, also on the pool. The new element
// array comes from the bulk allocator, so large copies do not fault page by page.
#include "vec_list_array.hpp"

#include "batch/steps.hpp"
#include "frame/errors.hpp"
#include "frame/rows.hpp"
#include "pool/pool.hpp"
#include "vec_list.hpp"  // a list given as it is, read under a borrow

namespace lumeric {

using tovrin::Vec3d;

namespace vec_array {

namespace {

static_assert(sizeof(Vec3d) == 3 * sizeof(double), "a vector is three doubles, nothing else");

constexpr const char* call_name = "from_array()";
constexpr std::size_t copy_piece = 32768;  // rows per piece: ~0.8 MB, copies at memory speed

// `count` uninitialised vectors; MemoryError for a count no array can hold.
Vectors new_vectors(std::size_t count) {
    if (count > Vectors().max_size()) {
        PyErr_NoMemory();
        throw PythonError{};
    }
    return Vectors(count);
}

VecListData from_buffer(PyObject* data) {
    const BufferRows table(data, call_name, 3);
    const std::size_t rows = table.rows();
    if (const unsigned char* bytes = table.contiguous()) return {copy_vectors(bytes, rows)};
    Vectors items = new_vectors(rows);
    auto* out = reinterpret_cast<double*>(items.data());
    pool::for_each_range(
        rows, [&table, out](std::size_t lo, std::size_t hi) { table.read(out + 3 * lo, lo, hi); }, copy_piece);
    return {std::move(items)};
}

// A sequence of rows, converted as the float arguments of `Vec3d(x, y, z)`.
VecListData from_rows(PyObject* data) {
    PyObject* rows = row_snapshot(data, call_name, 3);
    try {
        const Py_ssize_t count = PyTuple_GET_SIZE(rows);
        Vectors items = new_vectors(static_cast<std::size_t>(count));
        auto* out = reinterpret_cast<double*>(items.data());
        for (Py_ssize_t i = 0; i < count; ++i) read_row(PyTuple_GET_ITEM(rows, i), i, call_name, 3, out + 3 * i);
        Py_DECREF(rows);
        return {std::move(items)};
    } catch (...) {
        Py_DECREF(rows);
        throw;
    }
}

}  // namespace

VecListData from_array(RowsSource data) {
    if (PyObject_CheckBuffer(data.object)) return from_buffer(data.object);
    return from_rows(data.object);
}

RowsView::RowsView(RowsSource source) {
    if (!is_instance<VecListData>(source.object)) {
        copy_ = from_array(source);
        return;
    }
    if (!object_cast<VecListData>(source.object)->borrow.try_shared())
        raise(PyExc_RuntimeError, already_mutably_borrowed);
    list_ = source.object;
}

RowsView::~RowsView() {
    if (list_ != nullptr) object_cast<VecListData>(list_)->borrow.release_shared();
}

std::span<const Vec3d> RowsView::items() const noexcept {
    return list_ != nullptr ? std::span<const Vec3d>(object_cast<VecListData>(list_)->value.items) : copy_.items;
}

DoubleBlock doubles(const VecListData& list) noexcept {
    return {reinterpret_cast<const double*>(list.items.data()), list.items.size(), 3};
}

Vectors copy_vectors(const unsigned char* bytes, std::size_t count) {
    VecListData list{new_vectors(count)};
    // Written as every new element array is: a large one around the caches.
    const kernels::NewVectors out = batch::Output<kernels::NewVectors>::where(list);
    auto piece = [=](std::size_t lo, std::size_t hi) {
        kernels::copy({bytes + lo * sizeof(Vec3d), (hi - lo) * sizeof(Vec3d)}, out.subspan(lo, hi - lo));
    };
    pool::for_each_range(count, piece, copy_piece);
    return std::move(list.items);
}

}  // namespace vec_array

StateBytes PickleState<VecListData>::bytes(const VecListData& list) noexcept {
    return {reinterpret_cast<const unsigned char*>(list.items.data()), list.items.size() * sizeof(Vec3d)};
}

VecListData PickleState<VecListData>::load(StateBytes state) {
    if (state.size() % sizeof(Vec3d) != 0) malformed_state("VecList", state.size(), "not a multiple of 24");
    return {vec_array::copy_vectors(state.data(), state.size() / sizeof(Vec3d))};
}

}  // namespace lumeric
