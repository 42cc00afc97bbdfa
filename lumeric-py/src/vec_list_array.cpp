// vec_list_array.cpp: VecList from numpy-style buffers and nested sequences, its elements as
// a buffer, and its pickled state.
//
// A C-contiguous float64 input is one memory copy, cut into pieces on the worker pool; any
// other layout or format is gathered element by element, also on the pool. The new element
// array is made and stored as every new list is (batch::Output): from the bulk allocator, so
// large copies do not fault page by page, and written around the caches when it is large.
#include "vec_list_array.hpp"

#include <algorithm>

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

using NewList = batch::Output<kernels::NewVectors>;

// Rows [lo, hi) of a new list, each chunk made by `read(into, lo, hi)` (three doubles a row) in
// a small buffer and then stored as the list's writers store every element (NewList::where).
template <class Read>
void write_rows(kernels::NewVectors out, std::size_t lo, std::size_t hi, Read read) {
    constexpr std::size_t chunk = 256;
    Vec3d buffer[chunk];
    for (std::size_t at = lo; at < hi; at += chunk) {
        const std::size_t n = std::min(chunk, hi - at);
        read(reinterpret_cast<double*>(buffer), at, at + n);
        kernels::copy({reinterpret_cast<const unsigned char*>(buffer), n * sizeof(Vec3d)}, out.subspan(at, n));
    }
}

VecListData from_buffer(PyObject* data) {
    const BufferRows table(data, call_name, 3);
    const std::size_t rows = table.rows();
    if (const unsigned char* bytes = table.contiguous()) return {copy_vectors(bytes, rows)};
    VecListData list = NewList::make(rows);
    const kernels::NewVectors out = NewList::where(list);
    auto read = [&table](double* into, std::size_t lo, std::size_t hi) { table.read(into, lo, hi); };
    pool::for_each_range(rows, [&](std::size_t lo, std::size_t hi) { write_rows(out, lo, hi, read); }, copy_piece);
    return list;
}

// A sequence of rows, converted as the float arguments of `Vec3d(x, y, z)`.
VecListData from_rows(PyObject* data) {
    const Ref snapshot = row_snapshot(data, call_name, 3);
    PyObject* rows = snapshot.get();
    const auto count = static_cast<std::size_t>(PyTuple_GET_SIZE(rows));
    VecListData list = NewList::make(count);
    write_rows(NewList::where(list), 0, count, [rows](double* into, std::size_t lo, std::size_t hi) {
        for (std::size_t i = lo; i < hi; ++i, into += 3)
            read_row(PyTuple_GET_ITEM(rows, i), static_cast<Py_ssize_t>(i), call_name, 3, into);
    });
    return list;
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
    VecListData list = NewList::make(count);
    const kernels::NewVectors out = NewList::where(list);
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
