// What the column units share: numpy, looked up when a numpy function is
// first called, the arrays made and read through the buffer protocol (the
// project builds without numpy's headers), numpy's table of units, and the
// notes that name the index of a failing element.
#pragma once

#include "core/time.hpp"
#include "interop/interop.hpp"

namespace merandol::py::columns {

// The numpy callables the columns use, found once for the life of the
// process; nullptr with the error set when numpy cannot be imported.
struct Numpy {
    PyObject *empty;          // numpy.empty
    PyObject *datetime_data;  // numpy.datetime_data
    PyTypeObject *ndarray;    // numpy.ndarray
};
const Numpy *numpy();

// A new one-dimensional int64 array of `n` elements and a writable view of
// its buffer; release the view with PyBuffer_Release.
PyObject *new_int64_array(const Numpy &np, Py_ssize_t n, Py_buffer &view);

// The same memory as `array`, seen as `dtype` (for example
// "datetime64[ns]").  Takes the reference to `array`.
PyObject *view_as(PyObject *array, const char *dtype);

// How the conversion of one element ended.
enum class Outcome : std::uint8_t { Ok, Unreadable, OutOfRange, Remainder };

// Adds "at index {index}" to the pending exception.
void note_index(Py_ssize_t index);

// numpy's units.  A linear unit holds num / den nanoseconds; the calendar
// units Y and M (num 0) count years and months from 1970.
enum class Unit : std::uint8_t { Y, M, W, D, h, m, s, ms, us, ns, ps, fs, as };
struct UnitInfo {
    const char *name;
    std::int64_t num, den;
};
inline constexpr std::int64_t kNanosPerDay = kSecondsPerDay * kNanosPerSecond;
inline constexpr UnitInfo kUnits[] = {
    {"Y", 0, 1},
    {"M", 0, 1},
    {"W", 7 * kNanosPerDay, 1},
    {"D", kNanosPerDay, 1},
    {"h", 3600 * kNanosPerSecond, 1},
    {"m", 60 * kNanosPerSecond, 1},
    {"s", kNanosPerSecond, 1},
    {"ms", 1000000, 1},
    {"us", 1000, 1},
    {"ns", 1, 1},
    {"ps", 1, 1000},
    {"fs", 1, 1000000},
    {"as", 1, 1000000000},
};
static_assert(std::size(kUnits) == static_cast<std::size_t>(Unit::as) + 1);

constexpr const UnitInfo &info(Unit u) noexcept { return kUnits[static_cast<std::size_t>(u)]; }

// The unit named `name` ("ns"), or false.
bool find_unit(std::string_view name, Unit &out) noexcept;

// Reads the instants of texts, anything parse_to_numpy reads but an Arrow
// column, in `unit` ("s", "ms", "us" or "ns") into the memory that
// allocate(context, size) gives (nullptr with an error set when it cannot);
// `target` names the result's type in messages.
bool read_text_instants(PyObject *texts, std::string_view unit, const char *target,
                        std::int64_t *(*allocate)(void *context, Py_ssize_t size), void *context);

}  // namespace merandol::py::columns
