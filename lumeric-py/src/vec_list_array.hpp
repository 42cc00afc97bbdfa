// vec_list_array.hpp: VecList to and from arrays: `from_array`, the buffer export of the
// elements, and the pickled state.
#pragma once

#include <cstddef>
#include <string>

#include "batch/elements.hpp"
#include "frame/buffer.hpp"
#include "frame/convert.hpp"
#include "frame/pickle.hpp"

namespace lumeric {

namespace vec_array {

// A list from a buffer of shape (n, 3) in any strides and a numeric format, or from a
// sequence of rows of 3 numbers each.
VecListData from_array(RowsSource data);

// The elements as an (n, 3) block of doubles.
DoubleBlock doubles(const VecListData& list) noexcept;

// `count` vectors copied from raw native doubles at `bytes` (any alignment), on the pool
// when there are many.
Vectors copy_vectors(const unsigned char* bytes, std::size_t count);

}  // namespace vec_array

// A list pickles as its doubles (24 bytes a vector), out-of-band from protocol 5 on: the list
// is itself a buffer export of them.
template <>
struct PickleState<VecListData> {
    static constexpr bool out_of_band = true;
    static StateBytes bytes(const VecListData& list) noexcept;
    static VecListData load(StateBytes state);
};

}  // namespace lumeric
