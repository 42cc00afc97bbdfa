// frame/rows.cpp: buffers and sequences of rows read as tables of doubles.
#include "frame/rows.hpp"

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "frame/convert.hpp"
#include "frame/errors.hpp"
#include "frame/ref.hpp"

namespace lumeric {

namespace {

// Rows [lo, hi) of a strided table of E, each element converted as `double(E)`; raw bytes
// are read with memcpy, so no alignment is assumed and float64 keeps its bits.
template <class E>
void gather(const char* base, Py_ssize_t row_stride, Py_ssize_t column_stride, std::size_t width, double* out,
            std::size_t lo, std::size_t hi) {
    for (std::size_t r = lo; r < hi; ++r) {
        const char* row = base + static_cast<Py_ssize_t>(r) * row_stride;
        for (std::size_t k = 0; k < width; ++k) {
            E element;
            std::memcpy(&element, row + static_cast<Py_ssize_t>(k) * column_stride, sizeof element);
            *out++ = static_cast<double>(element);
        }
    }
}

template <class Signed, class Unsigned>
BufferRows::Gather integer_gather(bool is_signed) {
    return is_signed ? &gather<Signed> : &gather<Unsigned>;
}

BufferRows::Gather gather_for(ElementFormat format) {
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

}  // namespace

BufferRows::BufferRows(PyObject* object, const char* call, std::size_t width, std::size_t rows)
    : buffer_(object, PyBUF_RECORDS_RO, call), width_(width) {
    const Py_buffer& view = buffer_.view();
    const ElementFormat format = element_format(view, call);
    const bool fixed = rows != any_rows;
    if (view.ndim != 2 || view.shape == nullptr || static_cast<std::size_t>(view.shape[1]) != width ||
        (fixed && static_cast<std::size_t>(view.shape[0]) != rows)) {
        const std::string wanted = fixed ? std::to_string(rows) : std::string("n");
        PyErr_Format(PyExc_ValueError, "%s expects shape (%s, %zu), got %s", call, wanted.c_str(), width,
                     buffer_.shape_text().c_str());
        throw PythonError{};
    }
    if (view.suboffsets != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s cannot read indirect buffers", call);
        throw PythonError{};
    }
    rows_ = static_cast<std::size_t>(view.shape[0]);
    row_stride_ = view.strides != nullptr ? view.strides[0] : static_cast<Py_ssize_t>(width) * view.itemsize;
    column_stride_ = view.strides != nullptr ? view.strides[1] : view.itemsize;
    float64_ = format.kind == ElementKind::float64;
    gather_ = gather_for(format);
}

const unsigned char* BufferRows::contiguous() const noexcept {
    const bool packed = float64_ && column_stride_ == 8 && row_stride_ == static_cast<Py_ssize_t>(8 * width_);
    return packed ? static_cast<const unsigned char*>(buffer_.view().buf) : nullptr;
}

void BufferRows::read(double* out, std::size_t lo, std::size_t hi) const noexcept {
    gather_(static_cast<const char*>(buffer_.view().buf), row_stride_, column_stride_, width_, out, lo, hi);
}

namespace {

[[noreturn]] void not_rows(const char* call, Py_ssize_t index, std::size_t width, PyObject* object) {
    PyErr_Format(PyExc_TypeError, "%s row %zd is not a sequence of %zu numbers, but '%.200s'", call, index, width,
                 Py_TYPE(object)->tp_name);
    throw PythonError{};
}

}  // namespace

Ref row_snapshot(PyObject* data, const char* call, std::size_t width) {
    if (PyUnicode_Check(data) || !PySequence_Check(data)) {
        PyErr_Format(PyExc_TypeError, "%s expects a buffer or a sequence of rows of %zu numbers, not '%.200s'", call,
                     width, Py_TYPE(data)->tp_name);
        throw PythonError{};
    }
    return steal(PySequence_Tuple(data));
}

// The items are held while they convert, so a conversion that changes the row cannot pull
// them away.
void read_row(PyObject* row, Py_ssize_t index, const char* call, std::size_t width, double* out) {
    Ref items;
    if (PyTuple_CheckExact(row)) items = Ref::borrow(row);
    else if (PySequence_Check(row) && !PyUnicode_Check(row)) items = steal(PySequence_Tuple(row));
    else not_rows(call, index, width, row);
    const Py_ssize_t size = PyTuple_GET_SIZE(items.get());
    if (size != static_cast<Py_ssize_t>(width)) {
        PyErr_Format(PyExc_ValueError, "%s row %zd has %zd values, expected %zu", call, index, size, width);
        throw PythonError{};
    }
    for (Py_ssize_t k = 0; k < size; ++k) {
        Arg<double> number;
        if (!number.load(PyTuple_GET_ITEM(items.get(), k))) {
            std::string prefix = std::string(call) + " row " + std::to_string(index) + ": ";
            prefix_type_error(prefix.c_str());
            throw PythonError{};
        }
        out[k] = number.get();
    }
}

void read_fixed_rows(RowsSource source, const char* call, std::size_t rows, std::size_t width, double* out) {
    if (PyObject_CheckBuffer(source.object)) {
        BufferRows(source.object, call, width, rows).read(out, 0, rows);
        return;
    }
    const Ref snapshot = row_snapshot(source.object, call, width);
    const Py_ssize_t count = PyTuple_GET_SIZE(snapshot.get());
    if (count != static_cast<Py_ssize_t>(rows)) {
        PyErr_Format(PyExc_ValueError, "%s expects %zu rows, got %zd", call, rows, count);
        throw PythonError{};
    }
    for (Py_ssize_t r = 0; r < count; ++r)
        read_row(PyTuple_GET_ITEM(snapshot.get(), r), r, call, width, out + static_cast<std::size_t>(r) * width);
}

namespace {

// Indices [lo, hi) of a strided run of E; raw bytes are read with memcpy, so no alignment is
// assumed. An unsigned value above the int64 range wraps to a negative one.
template <class E>
void gather_indices(const char* base, Py_ssize_t stride, std::int64_t* out, std::size_t lo, std::size_t hi) {
    for (std::size_t r = lo; r < hi; ++r) {
        E element;
        std::memcpy(&element, base + static_cast<Py_ssize_t>(r) * stride, sizeof element);
        *out++ = static_cast<std::int64_t>(element);
    }
}

template <class Signed, class Unsigned>
IndexTable::Gather index_gather(bool is_signed) {
    return is_signed ? &gather_indices<Signed> : &gather_indices<Unsigned>;
}

}  // namespace

IndexTable::IndexTable(IndexSource source, const char* call) {
    if (!PyObject_CheckBuffer(source.object)) {
        read_sequence(source.object, call);
        return;
    }
    const ReadBuffer& buffer = buffer_.emplace(source.object, PyBUF_RECORDS_RO, call);
    const Py_buffer& view = buffer.view();
    const std::optional<ElementFormat> format = parse_element_format(view);
    if (!format || format->kind == ElementKind::float64 || format->kind == ElementKind::float32) {
        PyErr_Format(PyExc_TypeError, "%s expects integer indices, got a buffer of format '%s'", call,
                     view.format != nullptr ? view.format : "B");
        throw PythonError{};
    }
    if (view.ndim != 1 || view.shape == nullptr) {
        PyErr_Format(PyExc_ValueError, "%s expects a 1-D buffer of indices, got shape %s", call,
                     buffer.shape_text().c_str());
        throw PythonError{};
    }
    if (view.suboffsets != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s cannot read indirect buffers", call);
        throw PythonError{};
    }
    count_ = static_cast<std::size_t>(view.shape[0]);
    stride_ = view.strides != nullptr ? view.strides[0] : view.itemsize;
    unsigned_ = format->kind == ElementKind::unsigned_integer;
    switch (format->width) {
        case 1: gather_ = index_gather<std::int8_t, std::uint8_t>(!unsigned_); break;
        case 2: gather_ = index_gather<std::int16_t, std::uint16_t>(!unsigned_); break;
        case 4: gather_ = index_gather<std::int32_t, std::uint32_t>(!unsigned_); break;
        default: gather_ = index_gather<std::int64_t, std::uint64_t>(!unsigned_); break;
    }
    if (!unsigned_ && format->width == 8 && stride_ == 8) packed_ = static_cast<const std::int64_t*>(view.buf);
}

void IndexTable::read_sequence(PyObject* data, const char* call) {
    if (PyUnicode_Check(data) || !PySequence_Check(data)) {
        PyErr_Format(PyExc_TypeError, "%s expects a buffer or a sequence of ints, not '%.200s'", call,
                     Py_TYPE(data)->tp_name);
        throw PythonError{};
    }
    // A snapshot, so that code run by the conversions cannot change the items under them.
    const Ref items = steal(PySequence_Tuple(data));
    const Py_ssize_t n = PyTuple_GET_SIZE(items.get());
    values_.resize(static_cast<std::size_t>(n));
    for (Py_ssize_t k = 0; k < n; ++k) {
        const Ref number = Ref::adopt(PyNumber_Index(PyTuple_GET_ITEM(items.get(), k)));
        if (!number) {
            const std::string prefix = std::string(call) + " item " + std::to_string(k) + ": ";
            prefix_type_error(prefix.c_str());
            throw PythonError{};
        }
        int overflow = 0;
        const long long value = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
        if (value == -1 && PyErr_Occurred()) throw PythonError{};
        if (overflow != 0 && first_huge_ > static_cast<std::size_t>(k)) {
            first_huge_ = static_cast<std::size_t>(k);
            const Ref spelled = steal(PyObject_Str(number.get()));
            const char* utf8 = PyUnicode_AsUTF8(spelled.get());
            if (utf8 == nullptr) throw PythonError{};
            huge_text_ = utf8;
        }
        values_[static_cast<std::size_t>(k)] = overflow != 0 ? std::numeric_limits<std::int64_t>::min() : value;
    }
    count_ = values_.size();
    packed_ = values_.data();
}

void IndexTable::read(std::int64_t* out, std::size_t lo, std::size_t hi) const noexcept {
    if (gather_ != nullptr) gather_(static_cast<const char*>(buffer_->view().buf), stride_, out, lo, hi);
    else std::memcpy(out, values_.data() + lo, (hi - lo) * sizeof(std::int64_t));
}

std::string IndexTable::text(std::size_t position) const {
    if (position == first_huge_) return huge_text_;
    std::int64_t value;
    read(&value, position, position + 1);
    return unsigned_ ? std::to_string(static_cast<std::uint64_t>(value)) : std::to_string(value);
}

std::vector<double> read_floats(FloatsSource source, const char* call) {
    std::vector<double> out;
    if (PyObject_CheckBuffer(source.object)) {
        ReadBuffer buffer(source.object, PyBUF_STRIDES | PyBUF_FORMAT, call);
        const Py_buffer& view = buffer.view();
        if (view.ndim != 1) {
            PyErr_Format(PyExc_ValueError, "%s expects a one-dimensional buffer, got shape %s", call,
                         buffer.shape_text().c_str());
            throw PythonError{};
        }
        const ElementFormat format = element_format(view, call);
        if (format.kind != ElementKind::float64) {
            PyErr_Format(PyExc_TypeError, "%s expects float64 numbers, got format '%s'", call,
                         view.format != nullptr ? view.format : "B");
            throw PythonError{};
        }
        out.resize(static_cast<std::size_t>(view.shape[0]));
        const char* base = static_cast<const char*>(view.buf);
        for (std::size_t k = 0; k < out.size(); ++k)
            std::memcpy(&out[k], base + static_cast<Py_ssize_t>(k) * view.strides[0], sizeof(double));
        return out;
    }
    if (PyUnicode_Check(source.object) || !PySequence_Check(source.object)) {
        PyErr_Format(PyExc_TypeError, "%s expects a buffer or a sequence of numbers, got '%s'", call,
                     Py_TYPE(source.object)->tp_name);
        throw PythonError{};
    }
    // A snapshot, so that conversions run by the items cannot change what is read.
    const Ref items = steal(PySequence_Tuple(source.object));
    const Py_ssize_t count = PyTuple_GET_SIZE(items.get());
    out.resize(static_cast<std::size_t>(count));
    for (Py_ssize_t k = 0; k < count; ++k) {
        Arg<double> number;
        if (!number.load(PyTuple_GET_ITEM(items.get(), k))) {
            const std::string prefix = std::string(call) + " item " + std::to_string(k) + ": ";
            prefix_type_error(prefix.c_str());
            throw PythonError{};
        }
        out[static_cast<std::size_t>(k)] = number.get();
    }
    return out;
}

}  // namespace lumeric
