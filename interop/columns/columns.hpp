// What the column units share.  They stand in one order of use: texts.cpp
// (parse_many, parse_to_numpy, parse_to_arrow) reads Arrow columns through
// arrow.hpp; arrow.cpp writes texts through numpy.cpp's writer of
// instants; and all three use this file's numpy, units, validity bits and
// messages, which columns.cpp and numpy.cpp hold.  The project builds
// without numpy's headers: arrays are made and read through the buffer
// protocol.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "core/date.hpp"
#include "core/datetime.hpp"
#include "core/floor.hpp"
#include "core/rfc3339.hpp"
#include "core/time.hpp"
#include "interop/interop.hpp"
#include "interop/text/text.hpp"
#include "interop/zones/zones.hpp"

namespace merandol::py::columns {

// The numpy callables the columns use, found once for the life of the
// process; nullptr with ModuleNotFoundError set, naming `fn` and the extra
// that brings numpy, when numpy cannot be imported.
struct Numpy {
    PyObject *empty;          // numpy.empty
    PyObject *asarray;        // numpy.asarray
    PyObject *datetime_data;  // numpy.datetime_data
    PyTypeObject *ndarray;    // numpy.ndarray
};
const Numpy *numpy(const char *fn);
// numpy when some module has imported it, else nullptr, with no error
// unless finding it failed: an object of its types can only exist once it
// is imported.
const Numpy *numpy_if_imported(const char *fn);

// A new one-dimensional int64 array of `n` elements and a writable view of
// its buffer; release the view with PyBuffer_Release.
PyObject *new_int64_array(const Numpy &np, Py_ssize_t n, Py_buffer &view);

// The same memory as `array`, seen as `dtype` (for example
// "datetime64[ns]").  Takes the reference to `array`.
PyObject *view_as(PyObject *array, const char *dtype);

// How the conversion of one element ended.
enum class Outcome : std::uint8_t {
    Ok,
    Unreadable,       // the class's reader refuses the text
    OutOfRange,       // the value is outside the range of the result's type
    Remainder,        // a fraction finer than the result's unit
    LocalOutOfRange,  // the local reading at the offset is outside DateTime's range
};

// Adds "at index {index}" to the pending exception.
void note_index(Py_ssize_t index);

// Where an element lies, as messages name it: "texts[3]" and "at index 3"
// in a Python sequence, "row 3" and "at row 3" in an Arrow column.
struct Place {
    const char *sequence;  // "texts", or nullptr for a row of an Arrow column
    long long index;
};

// Raises the error of `text`, refused with `outcome` where the result's
// type is `target`: for an unreadable text the one that cls.parse raises
// for it alone, with a note naming its place; otherwise a ValueError that
// names the place.  Always false.
bool text_error(PyTypeObject *cls, PyObject *text, Outcome outcome, Place place, const char *target);
// The same for a text of UTF-8 bytes, as an Arrow column holds it: one
// that is not UTF-8 raises UnicodeDecodeError, with the note.
bool text_error(PyTypeObject *cls, std::string_view utf8, Outcome outcome, Place place, const char *target);

// --- Units --------------------------------------------------------------------

// numpy's units.  A linear unit holds num / den nanoseconds; the calendar
// units Y and M (num 0) count years and months from 1970.  The units Arrow
// has a type for give its format and its name as pyarrow shows it.
enum class Unit : std::uint8_t { Y, M, W, D, h, m, s, ms, us, ns, ps, fs, as };
struct UnitInfo {
    const char *name;
    std::int64_t num, den;
    const char *datetime64;    // "datetime64[ns]"
    const char *arrow_format;  // "tsn:UTC", or nullptr
    const char *arrow_type;    // "timestamp[ns, tz=UTC]"
};
inline constexpr std::int64_t kNanosPerDay = kSecondsPerDay * kNanosPerSecond;
inline constexpr UnitInfo kUnits[] = {
    {"Y", 0, 1, "datetime64[Y]", nullptr, nullptr},
    {"M", 0, 1, "datetime64[M]", nullptr, nullptr},
    {"W", 7 * kNanosPerDay, 1, "datetime64[W]", nullptr, nullptr},
    {"D", kNanosPerDay, 1, "datetime64[D]", "tdD", "date32[day]"},
    {"h", 3600 * kNanosPerSecond, 1, "datetime64[h]", nullptr, nullptr},
    {"m", 60 * kNanosPerSecond, 1, "datetime64[m]", nullptr, nullptr},
    {"s", kNanosPerSecond, 1, "datetime64[s]", "tss:UTC", "timestamp[s, tz=UTC]"},
    {"ms", 1000000, 1, "datetime64[ms]", "tsm:UTC", "timestamp[ms, tz=UTC]"},
    {"us", 1000, 1, "datetime64[us]", "tsu:UTC", "timestamp[us, tz=UTC]"},
    {"ns", 1, 1, "datetime64[ns]", "tsn:UTC", "timestamp[ns, tz=UTC]"},
    {"ps", 1, 1000, "datetime64[ps]", nullptr, nullptr},
    {"fs", 1, 1000000, "datetime64[fs]", nullptr, nullptr},
    {"as", 1, 1000000000, "datetime64[as]", nullptr, nullptr},
};
static_assert(std::size(kUnits) == static_cast<std::size_t>(Unit::as) + 1);

constexpr const UnitInfo &info(Unit u) noexcept { return kUnits[static_cast<std::size_t>(u)]; }

// The unit named `name` ("ns"), or false.
bool find_unit(std::string_view name, Unit &out) noexcept;

// The unit of an Arrow timestamp format ("tsn:" with any zone) or of date32
// ("tdD"), or false.
bool find_arrow_unit(std::string_view format, Unit &out) noexcept;

// The units that texts are read in: whole seconds and the decimal fractions
// whose sizes divide 10^9, s to ns.
constexpr bool is_second_fraction(Unit u) noexcept { return u >= Unit::s && u <= Unit::ns; }

// A unit with numpy's multiplier, as "datetime64[10ms]" has.
struct ColumnUnit {
    Unit unit;
    std::int64_t count;

    const UnitInfo &info() const noexcept { return columns::info(unit); }
    bool is_calendar() const noexcept { return unit == Unit::Y || unit == Unit::M; }
    // The units per second when a whole second is a whole number of them
    // (s to ns, with numpy's multiplier 1), else 0.
    std::int64_t per_second() const noexcept {
        return count == 1 && is_second_fraction(unit) ? kNanosPerSecond / info().num : 0;
    }
    // "datetime64[ns]", "timedelta64[10ms]".
    PyObject *dtype(bool datetime) const;
};

// --- Values of a unit ---------------------------------------------------------

// Nanoseconds to units and back, exactly.  INT64_MIN is NaT, so it is out
// of range.
Outcome nanos_to_units(i128 nanos, ColumnUnit u, std::int64_t &out) noexcept;
Outcome units_to_nanos(std::int64_t v, ColumnUnit u, i128 &out) noexcept;
Outcome datetime_to_units(const DateTime &dt, ColumnUnit u, std::int64_t &out) noexcept;
Outcome datetime_from_units(std::int64_t v, ColumnUnit u, DateTime &out) noexcept;
Outcome date_from_units(std::int64_t v, ColumnUnit u, Date &out) noexcept;

// The text of an instant of a column, as format_numpy and format_arrow
// write it: a date for unit D; otherwise the DateTime's text in UTC,
// ending in "Z", or with an offset or a zone the RFC 3339 text of the
// instant there.
class InstantWriter {
public:
    static constexpr std::size_t kTextMax = std::max({kRfc3339TextMax, kDateTimeTextMax, kDateTextMax});

    InstantWriter(ColumnUnit unit, const std::optional<OffsetOrZone::Value> &offset) noexcept
        : unit_(unit),
          offset_(offset),
          per_second_(unit.per_second()),
          nanos_per_unit_(per_second_ != 0 ? kNanosPerSecond / per_second_ : 0) {}

    // Writes the text of `v` from `out` (kTextMax bytes) and sets `end`
    // past it.  Runs without the interpreter.  The units of a second take
    // one floor division here, and the offset at the instant's second then
    // gives the local reading straight from the shifted count: one calendar
    // conversion, where the instant's own reading would need two.
    [[gnu::always_inline]] Outcome write(std::int64_t v, char *out, char *&end) const noexcept {
        if (per_second_ == 0) return write_other(v, out, end);
        const auto [seconds, rest] = floor_divmod(v, per_second_);
        if (seconds < kMinUnixSeconds || seconds > kMaxUnixSeconds) return Outcome::OutOfRange;
        const auto nanos = static_cast<std::int32_t>(rest * nanos_per_unit_);
        if (!offset_) {
            end = write_datetime(out, *from_unix_timestamp(seconds, nanos));
            return Outcome::Ok;
        }
        const UtcOffset offset = offset_->zone ? UtcOffset{offset_->zone->offset_at(seconds)} : offset_->offset;
        const auto local = from_unix_timestamp(seconds + offset.seconds, nanos);
        if (!local) return Outcome::LocalOutOfRange;
        end = write_local_rfc3339(out, *local, offset);
        return Outcome::Ok;
    }

private:
    // Dates, and the units that are no fraction of a second.
    Outcome write_other(std::int64_t v, char *out, char *&end) const noexcept;

    ColumnUnit unit_;
    std::optional<OffsetOrZone::Value> offset_;
    std::int64_t per_second_, nanos_per_unit_;
};

// The text of a value of a column in a format, as format_numpy and
// format_arrow write it with format=: a Date for unit D; otherwise the
// DateTime of the count, or with an offset or a zone the OffsetDateTime
// of the instant there.
class FormWriter {
public:
    FormWriter(const TextForm &form, ColumnUnit unit, const std::optional<OffsetOrZone::Value> &offset) noexcept
        : form_(form),
          plain_(form.plain_date_time()),
          unit_(unit),
          offset_(offset),
          per_second_(unit.per_second()),
          nanos_per_unit_(per_second_ != 0 ? kNanosPerSecond / per_second_ : 0) {}

    // The class of the column's values, as messages name it.
    const char *class_name() const noexcept {
        return unit_.unit == Unit::D ? "Date" : offset_ ? "OffsetDateTime" : "DateTime";
    }
    // The most bytes a text takes.
    std::size_t text_max() const noexcept {
        return form_.text_max(offset_ && offset_->zone ? offset_->zone->longest_abbreviation() : 0);
    }
    // What the form needs that the column's values lack, found once for
    // all of them at `scratch` (text_max() bytes): whether a value can be
    // written depends on its class alone.
    std::optional<WriteRefusal> refusal(char *scratch) const noexcept;

    // Writes the text of `v` from `out` (text_max() bytes) and sets `end`
    // past it.  Runs without the interpreter.
    Outcome write(std::int64_t v, char *out, char *&end) const noexcept;

private:
    // Dates, and the units that are no fraction of a second.
    Outcome value_of_other(std::int64_t v, PatternValue &value) const noexcept;

    const TextForm &form_;
    const Pattern *plain_;
    ColumnUnit unit_;
    std::optional<OffsetOrZone::Value> offset_;
    std::int64_t per_second_, nanos_per_unit_;
};

// --- numpy's datetime64 and timedelta64 arrays -------------------------------

// A one-dimensional datetime64 or timedelta64 array, read through an int64
// view of its memory in its own byte order.
struct Column {
    PyObject *array = nullptr;  // the numpy array read
    PyObject *ints = nullptr;   // its int64 view
    Py_buffer view{};
    PyObject *dtype = nullptr;  // its name, for messages
    bool datetime = false;
    bool swap = false;
    ColumnUnit unit{Unit::ns, 1};
    Py_ssize_t size = 0;

    Column() = default;
    Column(const Column &) = delete;
    Column &operator=(const Column &) = delete;
    ~Column();

    // Where the elements lie, copied out of the buffer's view: a loop that
    // stores 64-bit numbers elsewhere keeps these in registers, where it
    // would read the view's stride again after every store that may alias it.
    struct Elements {
        const char *base;
        Py_ssize_t stride;
        bool swap;

        std::int64_t at(Py_ssize_t i) const noexcept {
            std::uint64_t raw;
            std::memcpy(&raw, base + i * stride, 8);
            return static_cast<std::int64_t>(swap ? __builtin_bswap64(raw) : raw);
        }
    };
    Elements elements() const noexcept { return {static_cast<const char *>(view.buf), view.strides[0], swap}; }

    std::int64_t at(Py_ssize_t i) const noexcept { return elements().at(i); }
};

// Opens `given`, a numpy array or an object that gives one through
// __array__ (a pandas Series), as a column of datetime64 (of timedelta64
// too unless datetime_only) in any unit; false with TypeError or ValueError
// set, naming `fn` and the argument's `name`.
bool open_column(const Numpy &np, PyObject *given, const char *fn, const char *name, bool datetime_only, Column &out);

// A visitor of several call shapes from one lambda each, as
// Overload{[](int) {...}, [](std::string_view) {...}}.
template <class... Calls>
struct Overload : Calls... {
    using Calls::operator()...;
};

// --- Validity bitmaps ---------------------------------------------------------

// Arrow's validity bitmap: bit `bit` (least significant first in each
// byte) is set when that row holds a value.
inline bool bit_is_set(const std::uint8_t *bitmap, std::int64_t bit) noexcept {
    return (bitmap[bit >> 3] >> (bit & 7) & 1) != 0;
}
inline void set_bit(std::uint8_t *bitmap, std::int64_t bit) noexcept {
    bitmap[bit >> 3] |= static_cast<std::uint8_t>(1u << (bit & 7));
}
inline void clear_bit(std::uint8_t *bitmap, std::int64_t bit) noexcept {
    bitmap[bit >> 3] &= static_cast<std::uint8_t>(~(1u << (bit & 7)));
}

}  // namespace merandol::py::columns
