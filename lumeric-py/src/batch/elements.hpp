// batch/elements.hpp: the value of a VecList, a contiguous array of plain vectors.
//
// Never Python objects: the batch steps hand the array to the worker pool as it is.
#pragma once

#include <vector>

#include <tovrin/vec3d.hpp>

#include "bulk/bulk_allocator.hpp"

namespace lumeric {

// An element array of a list or an iterator.
using Vectors = std::vector<tovrin::Vec3d, BulkAllocator<tovrin::Vec3d>>;

// The value of a VecList object: its elements in insertion order.
struct VecListData {
    Vectors items;
};

}  // namespace lumeric
