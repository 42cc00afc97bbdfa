// vec_list_array.hpp: VecList to and from arrays: `from_array`, the buffer export of the
// elements, and the pickled state.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "frame/buffer.hpp"
#include "frame/convert.hpp"
#include "frame/record.hpp"
#include "vec_list.hpp"

namespace lumeric {

// The argument of `from_array`: any object, read as a buffer or as a sequence of rows.
struct RowsSource {
    PyObject* object;
};

template <>
struct Arg<RowsSource> {
    PyObject* object;
    bool load(PyObject* op) noexcept {
        object = op;
        return true;
    }
    RowsSource get() const noexcept { return {object}; }
};

namespace record {
template <>
struct Annotation<RowsSource> {
    static constexpr std::string text() {
        const std::string sequence = attribute(name_expr("collections.abc"), "Sequence");
        return subscript(attribute(name_expr("typing"), "Union"),
                         tuple_expr({attribute(name_expr("collections.abc"), "Buffer"),
                                     subscript(sequence, subscript(sequence, builtin("float")))}));
    }
};
}  // namespace record

namespace vec_array {

// A list from a buffer of shape (n, 3) in any strides and a numeric format, or from a
// sequence of rows of 3 numbers each.
VecListData from_array(RowsSource data);

// The rows of `source` as vectors: a VecList's own elements, under a shared borrow for as long
// as this lives, or else the copy `from_array` makes (with its conversions and errors).
class RowsView {
public:
    explicit RowsView(RowsSource source);
    RowsView(const RowsView&) = delete;
    RowsView& operator=(const RowsView&) = delete;
    ~RowsView();

    std::span<const tovrin::Vec3d> items() const noexcept;

private:
    PyObject* list_ = nullptr;  // the VecList borrowed
    VecListData copy_;
};

// The elements as an (n, 3) block of doubles.
DoubleBlock doubles(const VecListData& list) noexcept;

// `count` vectors copied from raw native doubles at `bytes` (any alignment), on the pool
// when there are many.
Vectors copy_vectors(const unsigned char* bytes, std::size_t count);

}  // namespace vec_array

}  // namespace lumeric
