// geometry/module.hpp: the submodule `lumeric_py.geometry`.
#pragma once

#include "frame/module.hpp"

namespace lumeric {

// The submodule's definition and once-per-process cell.
Submodule& geometry_submodule();

}  // namespace lumeric
