// kd_tree.hpp: the Python class `KDTree`, over spatial::KdTree.
#pragma once

#include <vector>

#include "frame/object.hpp"
#include "frame/pickle.hpp"
#include "spatial/tree.hpp"

namespace lumeric {

PyType_Spec* kd_tree_spec();

template <>
struct ClassFor<spatial::KdTree> {
    static constexpr Name name = "KDTree";
    static inline ClassCell cell{name.c_str(), &kd_tree_spec};
};

// A tree pickles as its points in their original order (24 bytes a point) and is built again
// on load: the layout is the build's business, and a state cannot smuggle in a wrong one.
template <>
struct PickleState<spatial::KdTree> {
    static constexpr bool out_of_band = false;
    static std::vector<unsigned char> bytes(const spatial::KdTree& tree);
    static spatial::KdTree load(StateBytes state);
};

}  // namespace lumeric
