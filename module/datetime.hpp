// DateTime objects, shared with the offset date-time class.
#pragma once

#include "core/datetime.hpp"
#include "module/frame.hpp"

namespace merandol::py {

using DateTimeObject = Instance<ClassId::DateTime, DateTime>;
static_assert(sizeof(DateTimeObject) == sizeof(PyObject) + sizeof(DateTime));

// The hashed bytes of a date-time: year (4, little-endian), month, day,
// hour, minute, second (1 each), nanosecond (4, little-endian).
inline constexpr std::size_t kDateTimeHashBytes = 13;
unsigned char *put_datetime_fields(unsigned char *p, const DateTime &dt) noexcept;

}  // namespace merandol::py
