// The Zone class, for the units that take or give a zone.
#pragma once

#include "core/zone.hpp"
#include "module/frame.hpp"

namespace merandol::py {

// The class, made when the module is executed.
PyTypeObject *zone_type() noexcept;
bool is_zone(PyObject *o) noexcept;

// The zone's key (a str), or nullptr for one read from bytes without one.
PyObject *zone_key(PyObject *zone) noexcept;
const Zone &zone_of(PyObject *zone) noexcept;

// Zone(key): the cached zone, or one read and cached now.
PyObject *zone_for_key(PyObject *key);

}  // namespace merandol::py
