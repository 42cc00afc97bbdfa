// geometry/module.cpp: the submodule `lumeric_py.geometry`, made once per process.
#include "geometry/module.hpp"

#include "frame/guard.hpp"
#include "geometry/circle.hpp"
#include "geometry/intersection.hpp"
#include "geometry/plane.hpp"

namespace lumeric {

namespace {

// The namespace and `__all__` follow this order.
using Members = ModuleMembers<"geometry", ClassMember<tovrin::geometry::Circle>,
                              FunctionMember<intersection::CircleCircle>, FunctionMember<intersection::CirclePoint>,
                              FunctionMember<intersection::CirclePointUnchecked>,
                              FunctionMember<intersection::PlaneLine>, ClassMember<tovrin::geometry::Plane>>;

int exec_geometry(PyObject* module) noexcept {
    return guard<int>(-1, [&] {
        require_module(module);
        Members::add_all(module);
        return 0;
    });
}

PyModuleDef_Slot geometry_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_geometry)},
    // Same reasoning as the top-level module: no state needs the global lock.
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},  // sentinel
};

PyModuleDef geometry_definition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "lumeric_py.geometry",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = geometry_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace

Submodule& geometry_submodule() {
    static Submodule submodule{geometry_definition};
    return submodule;
}

}  // namespace lumeric
