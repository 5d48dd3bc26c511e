// UtcOffset and OffsetDateTime objects.
#pragma once

#include "binding/frame.hpp"
#include "core/offset.hpp"

namespace merandol::py {

using UtcOffsetObject = Instance<ClassId::UtcOffset, UtcOffset>;
using OffsetDateTimeObject = Instance<ClassId::OffsetDateTime, OffsetDateTime>;
static_assert(sizeof(UtcOffsetObject) == sizeof(PyObject) + 8);  // 4 bytes of value, padded to 8
static_assert(sizeof(OffsetDateTimeObject) == sizeof(PyObject) + 24);

}  // namespace merandol::py
