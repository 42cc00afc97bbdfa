// frame/rows.hpp: tables of doubles read from an argument: a buffer of shape (n, width) in
// any strides and element format that element_format() accepts, or a sequence of rows of
// `width` numbers, each converted as a float argument. Errors name the call:
// "from_array() expects shape (n, 3), got (4, 2)".
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "frame/buffer.hpp"
#include "frame/convert.hpp"
#include "frame/ref.hpp"

namespace lumeric {

// The buffer of an object as a table of `width` columns, held for the reader's lifetime.
class BufferRows {
public:
    static constexpr std::size_t any_rows = static_cast<std::size_t>(-1);

    // Throws PythonError: TypeError for an unreadable buffer, ValueError for another shape
    // than (rows, width), (n, width) when rows is any_rows.
    BufferRows(PyObject* object, const char* call, std::size_t width, std::size_t rows = any_rows);

    std::size_t rows() const noexcept { return rows_; }
    // The table as raw native doubles when it is one C-contiguous float64 block, else null.
    const unsigned char* contiguous() const noexcept;
    // Rows [lo, hi), converted to doubles, written row by row from `out`. Plain loads and
    // stores: safe on worker threads while the reader lives.
    void read(double* out, std::size_t lo, std::size_t hi) const noexcept;

    using Gather = void (*)(const char* base, Py_ssize_t row_stride, Py_ssize_t column_stride, std::size_t width,
                            double* out, std::size_t lo, std::size_t hi);

private:
    ReadBuffer buffer_;
    std::size_t width_;
    std::size_t rows_ = 0;
    Py_ssize_t row_stride_ = 0;
    Py_ssize_t column_stride_ = 0;
    bool float64_ = false;
    Gather gather_ = nullptr;
};

// The rows of a sequence as a new tuple, a snapshot that code run by the conversions cannot
// change; TypeError when `data` is not a sequence (or is a str).
Ref row_snapshot(PyObject* data, const char* call, std::size_t width);

// Row `index` of such a snapshot, its `width` numbers converted as float arguments into out;
// TypeError for a row that is no sequence or an item that is no number, ValueError for
// another length.
void read_row(PyObject* row, Py_ssize_t index, const char* call, std::size_t width, double* out);

// Exactly `rows` rows of `width` numbers from a buffer or a sequence, into out row by row;
// a sequence of another length is a ValueError "{call} expects {rows} rows, got {n}".
void read_fixed_rows(RowsSource source, const char* call, std::size_t rows, std::size_t width, double* out);

// The numbers of a FloatsSource: a one-dimensional buffer of native float64 (ValueError for
// another shape, TypeError for another format) or a sequence of numbers, each converted as a
// float argument (TypeError "{call} item {k}: ...").
std::vector<double> read_floats(FloatsSource source, const char* call);

// The n values of a PackedSource<T>, where a T is plain doubles (a Quat is four), as raw
// native doubles one value after another: a packed float64 buffer in place (held until
// destruction), any other buffer gathered, or the T objects of a sequence copied out (the
// errors of a sequence argument, prefixed with `parameter`'s name). n must be `expected`:
// the count is checked as soon as it is known, before any value is read or copied (a buffer's
// shape may claim more rows than memory holds), and `refuse(n, expected)` raises otherwise.
template <class T>
class PackedValues {
public:
    static constexpr std::size_t width = sizeof(T) / sizeof(double);
    static_assert(sizeof(T) == width * sizeof(double), "a value is plain doubles");
    using Refusal = void (*)(std::size_t got, std::size_t expected);  // throws PythonError

    PackedValues(PackedSource<T> source, const char* call, const char* parameter, std::size_t expected,
                 Refusal refuse) {
        if (PyObject_CheckBuffer(source.object)) {
            const BufferRows& table = buffer_.emplace(source.object, call, width);
            count_ = table.rows();
            if (count_ != expected) refuse(count_, expected);
            if ((bytes_ = table.contiguous()) != nullptr) return;
            copies_.resize(count_);
            table.read(reinterpret_cast<double*>(copies_.data()), 0, count_);
        } else {
            // A sequence's own length, where it reports one, spares converting a wrong count of
            // items; the count converted is what is checked.
            const Py_ssize_t length = PyUnicode_Check(source.object) ? -1 : PySequence_Size(source.object);
            if (length < 0) PyErr_Clear();
            else if (static_cast<std::size_t>(length) != expected) refuse(static_cast<std::size_t>(length), expected);
            Arg<std::vector<T>> values;
            if (!values.load(source.object)) {
                wrap_argument_error(parameter);
                throw PythonError{};
            }
            copies_ = std::move(values.get());
            count_ = copies_.size();
            if (count_ != expected) refuse(count_, expected);
        }
        bytes_ = reinterpret_cast<const unsigned char*>(copies_.data());
    }
    PackedValues(const PackedValues&) = delete;
    PackedValues& operator=(const PackedValues&) = delete;

    std::size_t size() const noexcept { return count_; }
    // The raw doubles of values [lo, lo + count).
    std::span<const unsigned char> bytes(std::size_t lo, std::size_t count) const noexcept {
        return {bytes_ + lo * sizeof(T), count * sizeof(T)};
    }

private:
    std::optional<BufferRows> buffer_;
    std::vector<T> copies_;
    const unsigned char* bytes_ = nullptr;
    std::size_t count_ = 0;
};

// Row indices from an IndexSource: a 1-D buffer of integers of any width and sign, in any
// stride, or a sequence of ints (each read through __index__). Errors name the call: TypeError
// for another argument, a buffer of other elements or an item that is no integer; ValueError
// for a buffer of another dimension. Whether an index is in range is for the reader to judge.
class IndexTable {
public:
    IndexTable(IndexSource source, const char* call);

    std::size_t size() const noexcept { return count_; }
    // The indices as native 64-bit integers when they are one contiguous block of them, else null.
    const std::int64_t* contiguous() const noexcept { return packed_; }
    // Indices [lo, hi) into out. One that no int64 holds (an unsigned one above 2**63 - 1, an
    // int beyond 64 bits) reads as a negative number, out of range as it is. Plain loads and
    // stores: safe on worker threads while the table lives.
    void read(std::int64_t* out, std::size_t lo, std::size_t hi) const noexcept;
    // The index at `position` as Python writes it, for the messages that name it.
    std::string text(std::size_t position) const;

    using Gather = void (*)(const char* base, Py_ssize_t stride, std::int64_t* out, std::size_t lo, std::size_t hi);

private:
    void read_sequence(PyObject* data, const char* call);

    std::optional<ReadBuffer> buffer_;
    Gather gather_ = nullptr;
    Py_ssize_t stride_ = 0;
    bool unsigned_ = false;
    std::vector<std::int64_t> values_;  // a sequence's indices
    std::size_t first_huge_ = static_cast<std::size_t>(-1);  // the first int beyond 64 bits
    std::string huge_text_;
    const std::int64_t* packed_ = nullptr;
    std::size_t count_ = 0;
};

}  // namespace lumeric
