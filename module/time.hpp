// Time objects, shared with the date-time classes.
#pragma once

#include "binding/frame.hpp"
#include "core/time.hpp"

namespace merandol::py {

using TimeObject = Instance<ClassId::Time, Time>;
static_assert(sizeof(TimeObject) == sizeof(PyObject) + sizeof(Time));

}  // namespace merandol::py
