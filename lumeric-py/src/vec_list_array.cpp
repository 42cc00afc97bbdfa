// vec_list_array.cpp: VecList from numpy-style buffers and nested sequences, its elements as
// a buffer, and its pickled state.
//
// A C-contiguous float64 input is one memory copy, cut into pieces on the worker pool; any
// other layout or format is gathered element by element, also on the pool. The new element
// array is made and stored as every new list is (batch::Output): from the bulk allocator, so
// large copies do not fault page by page, and written around the caches when it is large.
#include "vec_list_array.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "batch/steps.hpp"
#include "frame/errors.hpp"
#include "pool/pool.hpp"

namespace lumeric {

using tovrin::Vec3d;

namespace vec_array {

namespace {

static_assert(sizeof(Vec3d) == 3 * sizeof(double), "a vector is three doubles, nothing else");

constexpr const char* call_name = "from_array()";
constexpr std::size_t copy_piece = 32768;  // rows per piece: ~0.8 MB, copies at memory speed

using NewList = batch::Output<kernels::NewVectors>;

// Rows [lo, hi) of a new list, each made by `read(into, lo, hi)` a chunk at a time in a small
// buffer and then stored as the list's writers store every element (NewList::where).
template <class Read>
void write_rows(kernels::NewVectors out, std::size_t lo, std::size_t hi, Read read) {
    constexpr std::size_t chunk = 256;
    Vec3d buffer[chunk];
    for (std::size_t at = lo; at < hi; at += chunk) {
        const std::size_t n = std::min(chunk, hi - at);
        read(buffer, at, at + n);
        kernels::copy({reinterpret_cast<const unsigned char*>(buffer), n * sizeof(Vec3d)}, out.subspan(at, n));
    }
}

// Rows [lo, hi) of a strided (n, 3) array of E into out[0, hi - lo), each element converted as `double(E)`; raw
// bytes are read with memcpy, so no alignment is assumed and float64 keeps its bits.
template <class E>
void gather(const char* base, Py_ssize_t row_stride, Py_ssize_t column_stride, Vec3d* out, std::size_t lo,
            std::size_t hi) {
    for (std::size_t r = lo; r < hi; ++r, ++out) {
        const char* row = base + static_cast<Py_ssize_t>(r) * row_stride;
        double c[3];
        for (int k = 0; k < 3; ++k) {
            E element;
            std::memcpy(&element, row + k * column_stride, sizeof element);
            c[k] = static_cast<double>(element);
        }
        *out = {c[0], c[1], c[2]};
    }
}

using Gather = void (*)(const char*, Py_ssize_t, Py_ssize_t, Vec3d*, std::size_t, std::size_t);

template <class Signed, class Unsigned>
Gather integer_gather(bool is_signed) {
    return is_signed ? &gather<Signed> : &gather<Unsigned>;
}

Gather gather_for(ElementFormat format) {
    const bool is_signed = format.kind == ElementKind::signed_integer;
    switch (format.kind) {
        case ElementKind::float64: return &gather<double>;
        case ElementKind::float32: return &gather<float>;
        default: break;
    }
    switch (format.width) {
        case 1: return integer_gather<std::int8_t, std::uint8_t>(is_signed);
        case 2: return integer_gather<std::int16_t, std::uint16_t>(is_signed);
        case 4: return integer_gather<std::int32_t, std::uint32_t>(is_signed);
        default: return integer_gather<std::int64_t, std::uint64_t>(is_signed);
    }
}

VecListData from_buffer(PyObject* data) {
    ReadBuffer buffer(data, PyBUF_RECORDS_RO, call_name);
    const Py_buffer& view = buffer.view();
    const ElementFormat format = element_format(view, call_name);
    if (view.ndim != 2 || view.shape == nullptr || view.shape[1] != 3) {
        PyErr_Format(PyExc_ValueError, "%s expects shape (n, 3), got %s", call_name, buffer.shape_text().c_str());
        throw PythonError{};
    }
    if (view.suboffsets != nullptr) raise(PyExc_TypeError, "from_array() cannot read indirect buffers");
    const auto rows = static_cast<std::size_t>(view.shape[0]);
    const Py_ssize_t row_stride = view.strides != nullptr ? view.strides[0] : 3 * view.itemsize;
    const Py_ssize_t column_stride = view.strides != nullptr ? view.strides[1] : view.itemsize;
    const auto* base = static_cast<const char*>(view.buf);
    if (format.kind == ElementKind::float64 && row_stride == 24 && column_stride == 8)
        return {copy_vectors(reinterpret_cast<const unsigned char*>(base), rows)};
    VecListData list = NewList::make(rows);
    const kernels::NewVectors out = NewList::where(list);
    const Gather gather = gather_for(format);
    auto read = [=](Vec3d* into, std::size_t lo, std::size_t hi) { gather(base, row_stride, column_stride, into, lo, hi); };
    pool::for_each_range(rows, [=](std::size_t lo, std::size_t hi) { write_rows(out, lo, hi, read); }, copy_piece);
    return list;
}

[[noreturn]] void not_rows(const char* what, Py_ssize_t index, PyObject* object) {
    PyErr_Format(PyExc_TypeError, "%s %s %zd is not a sequence of 3 numbers, but '%.200s'", call_name, what, index,
                 Py_TYPE(object)->tp_name);
    throw PythonError{};
}

// One row, converted as the float arguments of `Vec3d(x, y, z)`. The three items are held
// while they convert, so a conversion that changes the row cannot pull them away.
Vec3d read_row(PyObject* row, Py_ssize_t index) {
    PyObject* items;
    if (PyTuple_CheckExact(row)) items = Py_NewRef(row);
    else if (PySequence_Check(row) && !PyUnicode_Check(row)) items = checked(PySequence_Tuple(row));
    else not_rows("row", index, row);
    const Py_ssize_t size = PyTuple_GET_SIZE(items);
    if (size != 3) {
        Py_DECREF(items);
        PyErr_Format(PyExc_ValueError, "%s row %zd has %zd values, expected 3", call_name, index, size);
        throw PythonError{};
    }
    double c[3];
    for (Py_ssize_t k = 0; k < 3; ++k) {
        Arg<double> number;
        if (!number.load(PyTuple_GET_ITEM(items, k))) {
            Py_DECREF(items);
            std::string prefix = std::string(call_name) + " row " + std::to_string(index) + ": ";
            prefix_type_error(prefix.c_str());
            throw PythonError{};
        }
        c[k] = number.get();
    }
    Py_DECREF(items);
    return {c[0], c[1], c[2]};
}

// A sequence of rows: a tuple snapshot is taken first, so code run by a conversion cannot
// change the rows still to come.
VecListData from_rows(PyObject* data) {
    if (PyUnicode_Check(data) || !PySequence_Check(data)) {
        PyErr_Format(PyExc_TypeError, "%s expects a buffer or a sequence of rows of 3 numbers, not '%.200s'",
                     call_name, Py_TYPE(data)->tp_name);
        throw PythonError{};
    }
    PyObject* rows = checked(PySequence_Tuple(data));
    try {
        const auto count = static_cast<std::size_t>(PyTuple_GET_SIZE(rows));
        VecListData list = NewList::make(count);
        write_rows(NewList::where(list), 0, count, [rows](Vec3d* into, std::size_t lo, std::size_t hi) {
            for (std::size_t i = lo; i < hi; ++i) *into++ = read_row(PyTuple_GET_ITEM(rows, i), static_cast<Py_ssize_t>(i));
        });
        Py_DECREF(rows);
        return list;
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
