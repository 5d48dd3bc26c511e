// Date and Weekday objects, shared with the date-time classes.
#pragma once

#include "binding/frame.hpp"
#include "core/date.hpp"

namespace merandol::py {

using WeekdayObject = Instance<ClassId::Weekday, Weekday>;
using DateObject = Instance<ClassId::Date, Date>;

// The object header and the value, nothing else.
static_assert(sizeof(DateObject) == sizeof(PyObject) + sizeof(Date));

// A new reference to the Weekday class attribute for `w`.
PyObject *weekday_object(Weekday w);

}  // namespace merandol::py
