// vec_list_batch.hpp: the batch operations of VecList.
//
// Each one applies a core operation to every element on the worker pool and writes
// result k at index k, so results come out in element order however the work was cut,
// and each equals, bit for bit, the core operation on that element alone. Workers see
// only the element array and copied argument values; Python objects are made from the
// finished result by the caller.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <tovrin/quat.hpp>
#include <tovrin/vec3d.hpp>

#include "frame/convert.hpp"
#include "frame/arrays.hpp"
#include "vec_list.hpp"

namespace lumeric::batch {

using tovrin::Vec3d;

// -- Storage steps --

// The list made from collected elements (takes them over).
VecListData from_items(Vectors& items);
// "[Vec3d(..)\nVec3d(..)]": element texts joined by line feeds.
std::string repr(const VecListData& list);
// [[x, y, z], ...], made straight from the elements.
MappedSpan<Vec3d, &Vec3d::to_array> to_array(const VecListData& list);

// -- Element-wise: element on the left, the argument on the right --

ResultArray<double> dot(const VecListData& list, const Vec3d& other);
VecListData cross(const VecListData& list, const Vec3d& other);
ResultArray<double> magnitude(const VecListData& list);
VecListData normalize(const VecListData& list);
ResultArray<bool> is_unit(const VecListData& list);
ResultArray<double> distance_to(const VecListData& list, const Vec3d& other);
ResultArray<double> distance_squared(const VecListData& list, const Vec3d& other);
// Each element with coordinate `axis` (0 x, 1 y, 2 z) set to +0.0.
VecListData collapse(const VecListData& list, Index axis);
VecListData add(const VecListData& list, const Vec3d& other);
VecListData subtract(const VecListData& list, const Vec3d& other);
VecListData scale(const VecListData& list, double factor);
VecListData divide(const VecListData& list, double divisor);

// Replaces every element by its rotation, in place: no element's rotation can fail, and
// the exclusive borrow keeps everyone else from seeing the list meanwhile, so the result
// is the same as rotating into a new array and swapping it in.
void rotate(VecListData& list, const tovrin::Quat& quat);

// (index, distance) of the element nearest to `other` within a window around the best
// of every `stride`-th element. Keys are squared distances ranked exactly, every NaN
// above every number; equal keys go to the lower index.
std::pair<std::uint64_t, double> minimum_distance_to(const VecListData& list, const Vec3d& other, Index stride);

}  // namespace lumeric::batch
