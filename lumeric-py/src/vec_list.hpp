// vec_list.hpp: the Python classes `VecList` and `VecListIterator`.
//
// A VecList holds a contiguous array of plain vectors (batch/elements.hpp), which the
// batch steps (batch/steps.hpp) hand to the worker pool as it is.
#pragma once

#include <cstddef>

#include "batch/elements.hpp"
#include "frame/object.hpp"

namespace lumeric {

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

template <>
struct ClassFor<VecListCursor> {
    static constexpr Name name = "VecListIterator";
    static inline ClassCell cell{name.c_str(), &vec_list_iterator_spec};
};

}  // namespace lumeric
