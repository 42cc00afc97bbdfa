// module.cpp: the entry point of `lumeric_py` and the definitions of its two modules.
//
//     import lumeric_py                  # AngleDegrees, AngleRadians, Quat, VecList, Vec3d, geometry
//                                        # (and KDTree and Transform, outside __all__)
//     from lumeric_py import geometry    # Circle, circle_circle, circle_point,
//                                        # circle_point_unchecked, plane_line, Plane
//
// Multi-phase initialisation: the entry only hands over the definition; the execution
// steps fill the namespaces in a fixed order (which is also the order of `__all__`).
#include <Python.h>

#include "angle.hpp"
#include "frame/guard.hpp"
#include "frame/module.hpp"
#include "frame/pickle.hpp"
#include "geometry/circle.hpp"
#include "geometry/plane.hpp"
#include "geometry/module.hpp"
#include "kd_tree.hpp"
#include "quat.hpp"
#include "transform.hpp"
#include "vec3d.hpp"
#include "vec_list.hpp"
#include "vec_list_array.hpp"

namespace lumeric {

namespace {

// The namespace and `__all__` follow this order.
using Members = ModuleMembers<"lumeric_py", ClassMember<tovrin::AngleDegrees>, ClassMember<tovrin::AngleRadians>,
                              ClassMember<tovrin::Quat>, ClassMember<VecListData>, ClassMember<tovrin::Vec3d>,
                              SubmoduleMember<"geometry", &geometry_submodule>>;

// Loads every pickled class by its name; private, so left out of `__all__`.
using Reconstructor = lumeric::Reconstructor<tovrin::AngleDegrees, tovrin::AngleRadians, tovrin::Quat, VecListData,
                                             tovrin::Vec3d, tovrin::geometry::Plane, tovrin::geometry::Circle,
                                             spatial::KdTree, tovrin::Transform>;

int exec_lumeric(PyObject* module) noexcept {
    return guard<int>(-1, [&] {
        require_module(module);
        // A second interpreter is turned away before anything is made or added.
        claim_interpreter();
        Members::add_all(module);
        // `__all__` keeps its fixed value; the tree is an attribute beyond it.
        register_unlisted_class(module, ClassFor<spatial::KdTree>::cell);
        register_unlisted_class(module, ClassFor<tovrin::Transform>::cell);
        register_struct_sequence<spatial::IcpResult>(module);
        add_reconstructor(module, Reconstructor::def());
        return 0;
    });
}

PyModuleDef_Slot lumeric_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_lumeric)},
    // Shared state is limited to once-initialised cells and atomics, and instances carry
    // their own borrow counters, so the module runs without the global lock.
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},  // sentinel
};

PyModuleDef lumeric_definition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "lumeric_py",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = lumeric_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace

}  // namespace lumeric

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_lumeric_py() {
    return PyModuleDef_Init(&lumeric::lumeric_definition);
}
