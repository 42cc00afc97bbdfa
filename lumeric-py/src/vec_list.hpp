// vec_list.hpp: the Python classes `VecList` and `VecListIterator`.
//
// A VecList owns a contiguous array of plain vectors, never Python objects, so the batch
// operations (vec_list_batch.hpp) can hand the array to the worker pool as it is.
#pragma once

#include <cstddef>
#include <vector>

#include <tovrin/vec3d.hpp>

#include "bulk_allocator.hpp"
#include "frame/object.hpp"
#include "frame/pickle.hpp"

namespace lumeric {

// An element array of a list or an iterator.
using Vectors = std::vector<tovrin::Vec3d, BulkAllocator<tovrin::Vec3d>>;

// The value of a VecList object: its elements in insertion order.
struct VecListData {
    Vectors items;
};

// The value of a VecListIterator: a copy of the list taken by `iter()`, and the position
// of the next element to hand out.
struct VecListCursor {
    Vectors snapshot;
    std::size_t next = 0;
};

PyType_Spec* vec_list_spec();
PyType_Spec* vec_list_iterator_spec();

template <>
struct ClassFor<VecListData> {
    static constexpr Name name = "VecList";
    static inline ClassCell cell{name.c_str(), &vec_list_spec};
};

// A list pickles as its doubles (24 bytes a vector), out-of-band from protocol 5 on: the list
// is itself a buffer export of them (vec_list_array.hpp).
template <>
struct PickleState<VecListData> {
    static constexpr bool out_of_band = true;
    static StateBytes bytes(const VecListData& list) noexcept;
    static VecListData load(StateBytes state);
};

template <>
struct ClassFor<VecListCursor> {
    static constexpr Name name = "VecListIterator";
    static inline ClassCell cell{name.c_str(), &vec_list_iterator_spec};
};

}  // namespace lumeric
