// kd_tree.hpp: the Python class `KDTree`, over spatial::KdTree.
#pragma once

#include <vector>

#include "frame/object.hpp"
#include "frame/pickle.hpp"
#include "frame/struct_sequence.hpp"
#include "spatial/tree.hpp"
#include <spatial/icp.hpp>

namespace lumeric {

PyType_Spec* kd_tree_spec();

template <>
struct ClassFor<spatial::KdTree> {
    static constexpr Name name = "KDTree";
    static inline ClassCell cell{name.c_str(), &kd_tree_spec};
};

// ICP's result, returned as the struct sequence `IcpResult`.
template <>
struct StructSequence<spatial::IcpResult> {
    static constexpr Name name = "IcpResult";
    static constexpr std::array<Field, 4> fields = {{
        {"transform", "the final transform"},
        {"fitness", "pairs / len(source) for the final transform"},
        {"inlier_rmse", "the root mean square distance of those pairs"},
        {"iterations", "the number of updates made"},
    }};
    static auto values(const spatial::IcpResult& r) {
        return std::tuple(r.transform, r.fitness, r.inlier_rmse, r.iterations);
    }
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
