// Duration objects: a signed 128-bit nanosecond span, shared with the
// date-time classes (add_duration takes one, difference returns one).
#pragma once

#include "binding/frame.hpp"

namespace merandol::py {

using DurationObject = Instance<ClassId::Duration, i128>;
static_assert(sizeof(DurationObject) == sizeof(PyObject) + sizeof(i128));

}  // namespace merandol::py
