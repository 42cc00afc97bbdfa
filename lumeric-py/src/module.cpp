// module.cpp: the entry point of `lumeric_py`.
//
//     import lumeric_py                  # AngleDegrees, AngleRadians, Quat, VecList, Vec3d, geometry
//                                        # (and KDTree, Transform and IcpResult, outside __all__)
//
// Multi-phase initialisation: the entry only hands over the definition; the execution
// step fills the namespace in the members' order (which is also the order of `__all__`).
#include <Python.h>

#include "angle.hpp"
#include "frame/module.hpp"
#include "geometry/module.hpp"
#include "kd_tree.hpp"
#include "quat.hpp"
#include "transform.hpp"
#include "vec3d.hpp"
#include "vec_list.hpp"
#include "vec_list_array.hpp"

namespace lumeric {

using TopModule = Module<"lumeric_py", ClassMember<tovrin::AngleDegrees>, ClassMember<tovrin::AngleRadians>,
                         ClassMember<tovrin::Quat>, ClassMember<VecListData>, ClassMember<tovrin::Vec3d>,
                         SubmoduleMember<GeometryModule>, UnlistedClassMember<spatial::KdTree>,
                         UnlistedClassMember<tovrin::Transform>, StructSequenceMember<spatial::IcpResult>>;

}  // namespace lumeric

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_lumeric_py() {
    return PyModuleDef_Init(&lumeric::TopModule::definition);
}
