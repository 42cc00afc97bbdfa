// vec_list.cpp: the Python classes `VecList` and `VecListIterator`.
//
//     class VecList:
//         def __new__(cls, list: Sequence[Vec3d]) -> VecList     # copies the coordinates
//         empty() -> VecList                                      # static
//         from_array(data) -> VecList       # static; (n, 3) buffer or rows of 3 numbers
//         list: list[Vec3d]                                       # read-only, new objects
//         append(vec), extend(other)                              # in place
//         len(lst), lst[i], iter(lst), reversed(lst), repr(lst), to_array()
//         dot, cross, magnitude, normalize, is_unit, distance_to, distance_squared,
//         collapse(axis), minimum_distance_to(other, stride)      # batch, on the pool
//         rotate(quat)                                            # in place, once all are done
//         rotate_each(quats)                # in place: element k by quats[k], a list or (n, 4) buffer
//         transform(t: Transform)           # in place: each p by t.rotation.rotate(p) + t.translation
//         voxel_down_sample(size, *, return_inverse=False)  # voxel means, in voxel order;
//                                                 # with the inverse: (VecList, 'q' memoryview)
//         take(indices)                           # the rows at indices (1-D integer buffer or ints)
//         lst + v, lst - v, lst * s, s * lst, lst / s             # new VecList
//         memoryview(lst), numpy.asarray(lst)     # read-only (n, 3) float64 view, no copy;
//                                                 # a shared borrow while any view lives
//         copy.copy, copy.deepcopy, pickle        # raw doubles; out-of-band from protocol 5
//         sys.getsizeof(lst)                      # counts the elements it holds
//
//     class VecListIterator:                                      # from iter(lst) only
//         iterates over a copy of the list taken when it was made
//
// Elements go in and come out by value: no Vec3d object is ever shared with a list.
#include "vec_list.hpp"

#include <optional>
#include <span>

#include "batch/steps.hpp"
#include "frame/define.hpp"
#include "frame/record.hpp"
#include "quat.hpp"
#include "transform.hpp"
#include "vec3d.hpp"
#include "vec_list_array.hpp"

namespace lumeric {

namespace {

using tovrin::Vec3d;
using L = ClassDef<VecListData, "VecList">;
using batch::each;
using batch::heavy;
using batch::light;
using It = ClassDef<VecListCursor, "VecListIterator">;

VecListData empty() noexcept { return {}; }
std::span<const Vec3d> elements(const VecListData& list) noexcept { return list.items; }
std::size_t length(const VecListData& list) noexcept { return list.items.size(); }
std::size_t owned_bytes(const VecListData& list) noexcept { return list.items.capacity() * sizeof(Vec3d); }

void append(VecListData& list, const Vec3d& vec) { list.items.push_back(vec); }

// The shared borrow of `other` cannot coexist with the receiver's exclusive one, so
// `lst.extend(lst)` fails before anything is copied.
void extend(VecListData& list, Borrowed<VecListData> other) {
    list.items.insert(list.items.end(), other.value.items.begin(), other.value.items.end());
}

Vec3d get_item(const VecListData& list, Index index) {
    if (index.value >= list.items.size()) raise(PyExc_IndexError, "Index out of bounds");
    return list.items[index.value];
}

VecListCursor iterate(const VecListData& list) { return {list.items, 0}; }

std::optional<Vec3d> next(VecListCursor& cursor) noexcept {
    if (cursor.next >= cursor.snapshot.size()) return std::nullopt;
    return cursor.snapshot[cursor.next++];
}

// The quaternions are read here, where their class is known: a sequence of Quat or an (n, 4)
// buffer of (w, i, j, k) rows; the step sees only their doubles.
void rotate_each(VecListData& list, PackedSource<tovrin::Quat> quats) {
    batch::rotate_each(list, PackedValues<tovrin::Quat>(quats, "rotate_each()", "quats", list.items.size(),
                                                        &batch::wrong_quaternion_count));
}

using Constructor = L::Constructor<&batch::from_items, "list">;

}  // namespace

// As an argument (of the constructor), an element array is any sequence of Vec3d.
template <>
struct record::Annotation<Vectors> : record::SequenceOf<Vec3d> {};

PyType_Spec* vec_list_spec() {
    return L::build<Constructor>(
        L::methods(
            L::static_method<"empty", &empty>(),
            L::static_method<"from_array", &vec_array::from_array, "data">(),
            L::method<"append", &append, "vec">(),
            L::method<"extend", &extend, "other">(),
            L::method<"to_array", &batch::to_array>(),
            L::method<"dot", each<&kernels::dot, light>, "other">(),
            L::method<"cross", each<&kernels::cross, light>, "other">(),
            L::method<"magnitude", each<&kernels::magnitude, heavy>>(),
            L::method<"normalize", each<&kernels::normalize, heavy>>(),
            L::method<"is_unit", each<&kernels::is_unit, heavy>>(),
            L::method<"distance_to", each<&kernels::distance_to, heavy>, "other">(),
            L::method<"distance_squared", each<&kernels::distance_squared, light>, "other">(),
            L::method<"collapse", &batch::collapse, "axis">(),
            L::method<"rotate", &batch::rotate, "quat">(),
            L::method<"rotate_each", &rotate_each, "quats">(),
            L::method<"transform", &batch::transform, "t">(),
            L::method<"minimum_distance_to", &batch::minimum_distance_to, "other", "stride">(),
            L::method<"voxel_down_sample", &batch::voxel_down_sample, "size", "return_inverse">(),
            L::method<"take", &batch::take, "indices">(),
            L::copy_and_pickle(),
            L::size_of<&owned_bytes>()),
        L::properties(
            L::property<"list", &elements, nullptr>()),
        L::op<Py_tp_repr, &batch::repr>(),
        L::op<Py_tp_iter, &iterate>(),
        L::op<Py_nb_add, each<&kernels::add, light>, "other">(),
        L::op<Py_nb_subtract, each<&kernels::subtract, light>, "other">(),
        L::commutative_multiply<each<&kernels::scale, light>, "rhs", "lhs">(),
        L::op<Py_nb_true_divide, each<&kernels::divide, heavy>, "rhs">(),
        L::length<&length>(),
        L::sequence_length<&length>(),
        L::getitem<&get_item>(),
        L::sequence_item<&get_item>(),
        L::buffer<&vec_array::doubles>(),
        L::release_buffer<&vec_array::doubles>());
}

PyType_Spec* vec_list_iterator_spec() {
    return It::build<It::NoConstructor>(
        It::methods(),
        It::properties(),
        PyType_Slot{Py_tp_doc, const_cast<char*>("")},
        It::iterator_self(),
        It::iterator_next<&next>());
}

}  // namespace lumeric
