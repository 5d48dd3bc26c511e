// merandol values to and from numpy's datetime64 and timedelta64 arrays, and
// datetime64 arrays to text.  numpy is imported on the first call of one of
// these functions.  It exports no datetime64 buffer, so arrays are made as
// int64, filled through their buffer and viewed as datetime64, and read
// through an int64 view.  Every conversion is exact: a value that the unit
// cannot hold, or that would lose a remainder below the unit, is refused,
// and nothing is returned in part.
#include "core/calendar.hpp"
#include "core/floor.hpp"
#include "core/offset.hpp"
#include "core/rfc3339.hpp"
#include "interop/columns/columns.hpp"
#include "interop/zones/zones.hpp"
#include "module/date.hpp"
#include "module/datetime.hpp"
#include "module/duration.hpp"
#include "module/offset.hpp"

namespace merandol::py {

using namespace columns;

// --- Values of a unit --------------------------------------------------------

Outcome columns::nanos_to_units(i128 nanos, ColumnUnit u, std::int64_t &out) noexcept {
    i128 scaled;
    if (__builtin_mul_overflow(nanos, i128{u.info().den}, &scaled)) return Outcome::OutOfRange;
    const i128 per = i128{u.info().num} * u.count;
    if (scaled % per != 0) return Outcome::Remainder;
    const i128 units = scaled / per;
    if (units <= INT64_MIN || units > INT64_MAX) return Outcome::OutOfRange;
    out = static_cast<std::int64_t>(units);
    return Outcome::Ok;
}

Outcome columns::units_to_nanos(std::int64_t v, ColumnUnit u, i128 &out) noexcept {
    i128 scaled;
    if (__builtin_mul_overflow(i128{v}, i128{u.info().num} * u.count, &scaled)) return Outcome::OutOfRange;
    if (scaled % u.info().den != 0) return Outcome::Remainder;
    out = scaled / u.info().den;
    return Outcome::Ok;
}

Outcome columns::datetime_to_units(const DateTime &dt, ColumnUnit u, std::int64_t &out) noexcept {
    if (!u.is_calendar()) return nanos_to_units(unix_timestamp_nanos(dt), u, out);
    // Years or months since 1970, which the value must begin.
    const bool months = u.unit == Unit::M;
    if (dt.date.day != 1 || (!months && dt.date.month != 1) || dt.time != Time{0, 0, 0, 0}) return Outcome::Remainder;
    const std::int64_t n = months ? months_since_epoch<std::int64_t>(dt.date.year, dt.date.month)
                                  : std::int64_t{dt.date.year} - kUnixEpochYear;
    if (n % u.count != 0) return Outcome::Remainder;
    out = n / u.count;
    return Outcome::Ok;
}

Outcome columns::datetime_from_units(std::int64_t v, ColumnUnit u, DateTime &out) noexcept {
    if (!u.is_calendar()) {
        i128 nanos;
        const Outcome outcome = units_to_nanos(v, u, nanos);
        if (outcome != Outcome::Ok) return outcome;
        const auto dt = from_unix_nanos(nanos);
        if (!dt) return Outcome::OutOfRange;
        out = *dt;
        return Outcome::Ok;
    }
    // |v * count| < 2^94, far inside 128 bits.
    const i128 n = i128{v} * u.count;
    const auto [year, month] = u.unit == Unit::M ? month_of_epoch(n) : YearMonth<i128>{n + kUnixEpochYear, 1};
    if (year < INT32_MIN || year > INT32_MAX) return Outcome::OutOfRange;
    out = DateTime{{static_cast<std::int32_t>(year), static_cast<std::uint8_t>(month), 1}, {0, 0, 0, 0}};
    return Outcome::Ok;
}

Outcome columns::date_from_units(std::int64_t v, ColumnUnit u, Date &out) noexcept {
    // Days: numpy's D with its multiplier.
    i128 days = i128{v} * u.count;
    if (days < INT64_MIN || days > INT64_MAX) return Outcome::OutOfRange;
    const auto date = from_days_since_unix_epoch(static_cast<std::int64_t>(days));
    if (!date) return Outcome::OutOfRange;
    out = *date;
    return Outcome::Ok;
}

// --- Instants as text ---------------------------------------------------------

Outcome InstantWriter::write_other(std::int64_t v, char *out, char *&end) const noexcept {
    if (unit_.unit == Unit::D) {
        Date date;
        const Outcome outcome = date_from_units(v, unit_, date);
        if (outcome == Outcome::Ok) end = write_date(out, date);
        return outcome;
    }
    DateTime utc;
    if (const Outcome outcome = datetime_from_units(v, unit_, utc); outcome != Outcome::Ok) return outcome;
    if (!offset_) {
        end = write_datetime(out, utc);
        return Outcome::Ok;
    }
    const auto written = write_rfc3339(out, offset_->local(utc));
    if (!written) return Outcome::LocalOutOfRange;
    end = *written;
    return Outcome::Ok;
}

// --- Values as text in a format ------------------------------------------------

std::optional<WriteRefusal> FormWriter::refusal(char *scratch) const noexcept {
    const DateTime epoch{{1970, 1, 1}, {0, 0, 0, 0}};
    const PatternValue sample = unit_.unit == Unit::D ? PatternValue::of(epoch.date)
                                : offset_             ? PatternValue::of(epoch, UtcOffset{0})
                                                      : PatternValue::of(epoch);
    const auto written = form_.write(scratch, sample);
    if (written) return std::nullopt;
    return written.error();
}

Outcome FormWriter::value_of_other(std::int64_t v, PatternValue &value) const noexcept {
    if (unit_.unit == Unit::D) {
        Date date;
        if (const Outcome outcome = date_from_units(v, unit_, date); outcome != Outcome::Ok) return outcome;
        value = PatternValue::of(date);
        return Outcome::Ok;
    }
    DateTime utc;
    if (const Outcome outcome = datetime_from_units(v, unit_, utc); outcome != Outcome::Ok) return outcome;
    if (!offset_) {
        value = PatternValue::of(utc);
        return Outcome::Ok;
    }
    const OffsetDateTime at = offset_->local(utc);
    const auto local = to_local(at);
    if (!local) return Outcome::LocalOutOfRange;
    // At a zone, %Z writes the designation in force.
    value = offset_->zone
                ? PatternValue::at_zone(*local, at.offset, offset_->zone->abbreviation_at(unix_timestamp(utc)))
                : PatternValue::of(*local, at.offset);
    return Outcome::Ok;
}

Outcome FormWriter::write(std::int64_t v, char *out, char *&end) const noexcept {
    PatternValue value;
    if (per_second_ == 0) {
        if (const Outcome outcome = value_of_other(v, value); outcome != Outcome::Ok) return outcome;
    } else {
        const auto [seconds, rest] = floor_divmod(v, per_second_);
        if (seconds < kMinUnixSeconds || seconds > kMaxUnixSeconds) return Outcome::OutOfRange;
        const auto nanos = static_cast<std::int32_t>(rest * nanos_per_unit_);
        // The offset at the instant's second gives the local reading
        // straight from the shifted count, as InstantWriter's does.
        const Zone *zone = offset_ ? offset_->zone : nullptr;
        const UtcOffset offset = zone ? UtcOffset{zone->offset_at(seconds)} : offset_ ? offset_->offset : UtcOffset{};
        const auto local = from_unix_timestamp(seconds + offset.seconds, nanos);
        if (!local) return Outcome::LocalOutOfRange;
        if (plain_ != nullptr && static_cast<std::uint32_t>(local->date.year) <= 9999) {
            end = plain_->write_plain(out, *local);
            return Outcome::Ok;
        }
        // At a zone, %Z writes the designation in force.
        value = !offset_ ? PatternValue::of(*local)
                : zone   ? PatternValue::at_zone(*local, offset, zone->abbreviation_at(seconds))
                         : PatternValue::of(*local, offset);
    }
    // Refusals depend on the class alone, which refusal() checked.
    const auto written = form_.write(out, value);
    if (!written) return Outcome::OutOfRange;
    end = *written;
    return Outcome::Ok;
}

// --- Reading an array -------------------------------------------------------

Column::~Column() {
    if (view.obj != nullptr) PyBuffer_Release(&view);
    Py_XDECREF(ints);
    Py_XDECREF(dtype);
    Py_XDECREF(array);
}

static bool str_attr_is(PyObject *o, const char *name, const char *expected, bool &out) {
    PyObject *attr = PyObject_GetAttrString(o, name);
    if (attr == nullptr) return false;
    out = PyUnicode_Check(attr) && PyUnicode_EqualToUTF8(attr, expected);
    Py_DECREF(attr);
    return true;
}

bool columns::open_column(const Numpy &np, PyObject *given, const char *fn, const char *name, bool datetime_only,
                          Column &out) {
    const char *wanted = datetime_only ? "a numpy datetime64 array" : "a numpy datetime64 or timedelta64 array";
    if (PyObject_TypeCheck(given, np.ndarray)) {
        out.array = Py_NewRef(given);
    } else {
        // What gives an array through __array__, as a pandas Series does,
        // is read as that array.
        const int gives = PyObject_HasAttrStringWithError(given, "__array__");
        if (gives < 0) return false;
        if (gives == 0) {
            PyErr_Format(PyExc_TypeError, "%s %s must be %s, not '%T'", fn, name, wanted, given);
            return false;
        }
        out.array = PyObject_CallOneArg(np.asarray, given);
        if (out.array == nullptr) return false;
        if (!PyObject_TypeCheck(out.array, np.ndarray)) {
            PyErr_Format(PyExc_TypeError, "%s %s must be %s, not '%T'", fn, name, wanted, given);
            return false;
        }
    }
    PyObject *array = out.array;
    PyObject *dtype = PyObject_GetAttrString(array, "dtype");
    if (dtype == nullptr) return false;
    bool is_datetime = false, is_timedelta = false, big_endian = false;
    PyObject *data = nullptr;
    if (str_attr_is(dtype, "kind", "M", is_datetime) && str_attr_is(dtype, "kind", "m", is_timedelta) &&
        str_attr_is(dtype, "byteorder", ">", big_endian)) {
        if (is_datetime || (is_timedelta && !datetime_only))
            data = PyObject_CallOneArg(np.datetime_data, dtype);
        else
            PyErr_Format(PyExc_TypeError, "%s %s must be %s, not an array of dtype %S", fn, name, wanted, dtype);
    }
    Py_DECREF(dtype);
    if (data == nullptr) return false;
    // datetime_data gives (unit, count), for example ('ns', 1).  The unit's
    // text lives in the tuple, so it is looked up before the tuple goes.
    std::string_view unit_name;
    const bool read = PyTuple_Check(data) && PyTuple_GET_SIZE(data) == 2 &&
                      to_text(PyTuple_GET_ITEM(data, 0), unit_name, "unit") &&
                      to_i64(PyTuple_GET_ITEM(data, 1), out.unit.count, "count");
    const bool known = read && find_unit(unit_name, out.unit.unit) && out.unit.count >= 1;
    Py_DECREF(data);
    if (!read) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "numpy.datetime_data() gave no (unit, count)");
        return false;
    }
    out.datetime = is_datetime;
    out.swap = big_endian;
    // "generic", numpy's datetime64 without a unit, is no unit of the table.
    if (!known) {
        PyErr_Format(PyExc_ValueError, "%s: an array of %s without a unit of time holds no values", fn,
                     is_datetime ? "datetime64" : "timedelta64");
        return false;
    }
    out.dtype = out.unit.dtype(is_datetime);
    if (out.dtype == nullptr) return false;
    out.ints = PyObject_CallMethod(array, "view", "s", big_endian ? ">i8" : "<i8");
    if (out.ints == nullptr || PyObject_GetBuffer(out.ints, &out.view, PyBUF_STRIDES) < 0) return false;
    if (out.view.ndim != 1) {
        PyErr_Format(PyExc_ValueError, "%s: the array must be one-dimensional, not of %d dimensions", fn,
                     out.view.ndim);
        return false;
    }
    out.size = out.view.shape[0];
    return true;
}

static bool is_nat(const Column &c, Py_ssize_t i) {
    if (c.at(i) != INT64_MIN) return false;
    PyErr_Format(PyExc_ValueError, "array[%zd] is NaT, which is no %s", i, c.datetime ? "instant" : "duration");
    return true;
}

// The error of element i, which the result's class `target` cannot hold;
// `offset` is the UtcOffset or Zone its local reading was asked at.
static bool element_error(const Column &c, Py_ssize_t i, Outcome outcome, const char *target, PyObject *offset) {
    const auto v = static_cast<long long>(c.at(i));
    if (outcome == Outcome::Remainder)
        PyErr_Format(PyExc_ValueError, "array[%zd] = %lld of %U is not a whole number of nanoseconds", i, v, c.dtype);
    else if (outcome == Outcome::LocalOutOfRange)
        PyErr_Format(PyExc_ValueError,
                     "array[%zd] = %lld of %U has a local reading at offset %R outside the range of %s", i, v, c.dtype,
                     offset, target);
    else
        PyErr_Format(PyExc_ValueError, "array[%zd] = %lld of %U is outside the range of %s", i, v, c.dtype, target);
    return false;
}

// --- from_numpy and format_numpy ---------------------------------------------

// A list of one object per element: decode(v, value) reads the element into
// a Value, make(value) makes its object.  NaT and an element that decode
// refuses raise a ValueError naming the index, as the result's class
// `target` cannot hold it (at `offset`, when one was given).
template <class Value, class Decode, class Make>
static PyObject *list_of(const Column &c, const char *target, PyObject *offset, Decode &&decode, Make &&make) {
    PyObject *result = PyList_New(c.size);
    if (result == nullptr) return nullptr;
    for (Py_ssize_t i = 0; i < c.size; ++i) {
        PyObject *o = nullptr;
        if (!is_nat(c, i)) {
            Value value;
            const Outcome outcome = decode(c.at(i), value);
            o = outcome == Outcome::Ok ? make(value) : (element_error(c, i, outcome, target, offset), nullptr);
        }
        if (o == nullptr) {
            Py_DECREF(result);
            return nullptr;
        }
        PyList_SET_ITEM(result, i, o);
    }
    return result;
}

static PyObject *from_numpy(PyObject *, PyObject *array) {
    const Numpy *np = numpy("from_numpy()");
    Column c;
    if (np == nullptr || !open_column(*np, array, "from_numpy()", "argument", false, c)) return nullptr;
    const ColumnUnit u = c.unit;
    if (!c.datetime) {
        if (u.is_calendar())
            return PyErr_Format(PyExc_ValueError, "from_numpy(): %U has no fixed length in nanoseconds", c.dtype);
        return list_of<i128>(
            c, "Duration", nullptr, [&](std::int64_t v, i128 &span) { return units_to_nanos(v, u, span); },
            [](i128 span) { return DurationObject::wrap(span); });
    }
    if (u.unit == Unit::D)
        return list_of<Date>(
            c, "Date", nullptr, [&](std::int64_t v, Date &date) { return date_from_units(v, u, date); },
            [](const Date &date) { return DateObject::wrap(date); });
    return list_of<DateTime>(
        c, "DateTime", nullptr, [&](std::int64_t v, DateTime &dt) { return datetime_from_units(v, u, dt); },
        [](const DateTime &dt) { return DateTimeObject::wrap(dt); });
}
static constexpr auto from_numpy_decl =
    module_function("from_numpy", from_numpy,
                    "Convert a one-dimensional numpy array to a list of values.\n"
                    "\n"
                    "Args:\n"
                    "    array: A one-dimensional numpy datetime64 or timedelta64 array, or a\n"
                    "        pandas Series of one.\n"
                    "\n"
                    "Returns:\n"
                    "    list: Date values for datetime64[D], DateTime for every other datetime64\n"
                    "    unit (calendar units Y, M and W included) and Duration for timedelta64.\n"
                    "\n"
                    "Raises:\n"
                    "    ValueError: Naming the index, for NaT, for a value outside the range of\n"
                    "        the result's class and for a fraction of a nanosecond.\n"
                    "    TypeError: For an array of another dtype.",
                    param<Any>("array"));

// A Zone argument.
struct ZoneArg {
    using type = const Zone *;
    static bool convert(PyObject *o, type &out, const char *name) {
        if (is_zone(o)) {
            out = &zone_of(o);
            return true;
        }
        PyErr_Format(PyExc_TypeError, "'%T' object is not an instance of 'Zone'", o);
        note_argument(name);
        return false;
    }
};

// A new array of the column's dtype from `fill(i, v, out)` for each
// element that is not NaT (which stays NaT); nullptr when a fill fails.
template <class Fill>
static PyObject *map_column(const Numpy &np, const Column &c, Fill &&fill) {
    Py_buffer out;
    PyObject *result = new_int64_array(np, c.size, out);
    if (result == nullptr) return nullptr;
    auto *values = static_cast<std::int64_t *>(out.buf);
    bool ok = true;
    for (Py_ssize_t i = 0; ok && i < c.size; ++i) {
        const std::int64_t v = c.at(i);
        values[i] = v;
        if (v != INT64_MIN) ok = fill(i, v, values[i]);
    }
    PyBuffer_Release(&out);
    if (!ok) {
        Py_DECREF(result);
        return nullptr;
    }
    PyObject *dtype = PyObject_GetAttrString(c.array, "dtype");
    PyObject *viewed = dtype ? PyObject_CallMethod(result, "view", "O", dtype) : nullptr;
    Py_XDECREF(dtype);
    Py_DECREF(result);
    return viewed;
}

// Element i moved by a change of offset: its `what` ("local reading",
// "instant") is one that the dtype cannot hold.
static bool moved_error(const Column &c, Py_ssize_t i, Outcome outcome, const char *what) {
    PyErr_Format(PyExc_ValueError, "array[%zd] = %lld of %U: its %s is %s %U", i, static_cast<long long>(c.at(i)),
                 c.dtype, what,
                 outcome == Outcome::Remainder ? "not a whole number of units of" : "outside the range of", c.dtype);
    return false;
}

// Element i, v, of a unit that is no fraction of a second, moved by
// shift(i, seconds, by) seconds, where seconds are v's whole seconds from
// the epoch, through its DateTime: the result must again be a whole number
// of units.  shift returns false with an error set.
template <class Shift>
static bool move_through_datetime(const Column &c, Py_ssize_t i, std::int64_t v, const char *what, Shift &&shift,
                                  std::int64_t &out) {
    DateTime dt;
    Outcome outcome = datetime_from_units(v, c.unit, dt);
    if (outcome != Outcome::Ok) return element_error(c, i, outcome, "DateTime", nullptr);
    const i128 nanos = unix_timestamp_nanos(dt);
    std::int64_t by;
    if (!shift(i, static_cast<std::int64_t>(floor_divmod(nanos, i128{kNanosPerSecond}).quotient), by)) return false;
    const auto moved = from_unix_nanos(nanos + i128{by} * kNanosPerSecond);
    outcome = moved ? datetime_to_units(*moved, c.unit, out) : Outcome::OutOfRange;
    return outcome == Outcome::Ok || moved_error(c, i, outcome, what);
}

// A new array of the column's elements, each moved by shift(i, seconds,
// by); the units of a second by whole units.
template <class Shift>
static PyObject *move_column(const Numpy &np, const Column &c, const char *what, Shift &&shift) {
    const std::int64_t per_second = c.unit.per_second();
    if (per_second == 0)
        return map_column(np, c, [&](Py_ssize_t i, std::int64_t v, std::int64_t &out) {
            return move_through_datetime(c, i, v, what, shift, out);
        });
    return map_column(np, c, [&, per_second](Py_ssize_t i, std::int64_t v, std::int64_t &out) {
        // An offset is less than a day, so by * per_second fits 64 bits.
        std::int64_t by;
        if (!shift(i, floor_divmod(v, per_second).quotient, by)) return false;
        if (__builtin_add_overflow(v, by * per_second, &out) || out == INT64_MIN)
            return moved_error(c, i, Outcome::OutOfRange, what);
        return true;
    });
}

static PyObject *to_local_numpy(PyObject *, PyObject *array, const Zone *zone) {
    const Numpy *np = numpy("to_local_numpy()");
    Column c;
    if (np == nullptr || !open_column(*np, array, "to_local_numpy()", "argument", true, c)) return nullptr;
    return move_column(*np, c, "local reading", [zone](Py_ssize_t, std::int64_t seconds, std::int64_t &by) {
        by = zone->offset_at(seconds);
        return true;
    });
}
static constexpr auto to_local_numpy_decl =
    module_function("to_local_numpy", to_local_numpy,
                    "Convert a datetime64 array of instants to local readings in a Zone.\n"
                    "\n"
                    "Args:\n"
                    "    array: A datetime64 array of instants (any unit), or a pandas Series of\n"
                    "        one.\n"
                    "    zone: A Zone.\n"
                    "\n"
                    "Returns:\n"
                    "    numpy.ndarray: The local readings, in an array of the same dtype; NaT\n"
                    "    stays NaT.\n"
                    "\n"
                    "Raises:\n"
                    "    ValueError: Naming the index, for a reading outside the dtype's range or\n"
                    "        not a whole number of its units.",
                    param<Any>("array"), param<ZoneArg>("zone"));

// Element i, a reading that a change of offset skips or repeats, named as
// Zone.from_local names it.
static bool unsettled_error(const Column &c, Py_ssize_t i, PyObject *zone, LocalError error) {
    DateTime local;
    if (datetime_from_units(c.at(i), c.unit, local) != Outcome::Ok) return false;  // read once already
    char reading[kDateTimeTextMax];
    char *end = write_datetime(reading, local) - 1;  // without the "Z"
    PyObject *key = zone_key(zone);
    PyObject *name = key != nullptr ? Py_NewRef(key) : PyObject_Repr(zone);
    if (name == nullptr) return false;
    const bool skipped = error == LocalError::Skipped;
    PyErr_Format(PyExc_ValueError, "array[%zd] = %.*s is %s in %U: a change of offset %s it (disambiguate='raise')", i,
                 static_cast<int>(end - reading), reading, skipped ? "skipped" : "repeated", name,
                 skipped ? "skips" : "repeats");
    Py_DECREF(name);
    return false;
}

static PyObject *from_local_numpy(PyObject *, PyObject *array, Kept<const Zone *> zone, Disambiguate how) {
    const Numpy *np = numpy("from_local_numpy()");
    Column c;
    if (np == nullptr || !open_column(*np, array, "from_local_numpy()", "argument", true, c)) return nullptr;
    return move_column(*np, c, "instant", [&](Py_ssize_t i, std::int64_t seconds, std::int64_t &by) {
        // The instant is the reading moved back by the offset in force
        // there.
        const auto resolved = zone.value->resolve_local(seconds, how);
        if (!resolved) return unsettled_error(c, i, zone.object, resolved.error());
        by = resolved->seconds - seconds;
        return true;
    });
}
static constexpr auto from_local_numpy_decl =
    module_function("from_local_numpy", from_local_numpy,
                    "Convert a datetime64 array of local readings in a Zone to instants.\n"
                    "\n"
                    "Args:\n"
                    "    array: A datetime64 array of local readings (any unit), or a pandas\n"
                    "        Series of one.\n"
                    "    zone: A Zone.\n"
                    "    disambiguate: How readings in a gap or a fold are settled, as\n"
                    "        Zone.from_local does (default='compatible').\n"
                    "\n"
                    "Returns:\n"
                    "    numpy.ndarray: The instants, in an array of the same dtype; NaT stays\n"
                    "    NaT.\n"
                    "\n"
                    "Raises:\n"
                    "    ValueError: Naming the index, for a reading that disambiguate='raise'\n"
                    "        refuses or whose instant is outside the dtype's range or not a\n"
                    "        whole number of its units.",
                    param<Any>("array"), param<Keep<ZoneArg>>("zone"),
                    param<DisambiguateWord>("disambiguate", Disambiguate::Compatible));

// The texts of the column in a format; the scratch and each text's bytes
// in one buffer from the heap, as a pattern's texts have no fixed bound.
static PyObject *format_numpy_in(const Column &c, PyObject *format, Kept<std::optional<OffsetOrZone::Value>> offset) {
    const FormWriter writer(text_form_of(format), c.unit, offset.value);
    auto *text = static_cast<char *>(PyMem_Malloc(writer.text_max()));
    if (text == nullptr) return PyErr_NoMemory();
    PyObject *result = nullptr;
    if (const auto refused = writer.refusal(text)) {
        write_refused(format, writer.class_name(), *refused);
    } else {
        const bool ascii_only = writes_ascii(format);
        result = list_of<char *>(
            c, c.unit.unit == Unit::D ? "Date" : "DateTime", offset.object,
            [&](std::int64_t v, char *&end) { return writer.write(v, text, end); },
            [&](char *end) {
                return ascii_only ? ascii(text, end) : PyUnicode_DecodeUTF8(text, end - text, "strict");
            });
    }
    PyMem_Free(text);
    return result;
}

static PyObject *format_numpy(PyObject *, PyObject *array, Kept<std::optional<OffsetOrZone::Value>> offset,
                              std::optional<PyObject *> format) {
    const Numpy *np = numpy("format_numpy()");
    Column c;
    if (np == nullptr || !open_column(*np, array, "format_numpy()", "argument", true, c)) return nullptr;
    if (c.unit.unit == Unit::D && offset.value)
        return PyErr_Format(PyExc_ValueError,
                            "format_numpy(): the values of %U are dates, to which an offset does not apply", c.dtype);
    FormatHold held;
    if (!held.hold(format)) return nullptr;
    if (held.get() != nullptr) return format_numpy_in(c, held.get(), offset);
    const InstantWriter writer(c.unit, offset.value);
    struct Text {
        char bytes[InstantWriter::kTextMax];
        char *end;
    };
    return list_of<Text>(
        c, c.unit.unit == Unit::D ? "Date" : "DateTime", offset.object,
        [&](std::int64_t v, Text &text) { return writer.write(v, text.bytes, text.end); },
        [](const Text &text) { return ascii(text.bytes, text.end); });
}
static constexpr auto format_numpy_decl =
    module_function("format_numpy", format_numpy,
                    "Format a one-dimensional numpy datetime64 array as a list of texts.\n"
                    "\n"
                    "Args:\n"
                    "    array: A one-dimensional numpy datetime64 array, or a pandas Series of\n"
                    "        one.  Unit D gives dates.\n"
                    "    offset: None for the text of the DateTime (UTC, ending in \"Z\"); a\n"
                    "        UtcOffset for the RFC 3339 text of the instant at that offset; a\n"
                    "        Zone for its text at the offset in force at each instant\n"
                    "        (default=None).\n"
                    "    format: A Format, a named form or a pattern (a str) that writes each\n"
                    "        value (a Date for unit D, else a DateTime, or at an offset or zone\n"
                    "        an OffsetDateTime), or None for merandol's own texts\n"
                    "        (default=None).\n"
                    "\n"
                    "Returns:\n"
                    "    list: The texts.\n"
                    "\n"
                    "Raises:\n"
                    "    ValueError: Naming the index, for NaT, for a value outside merandol's\n"
                    "        range and for a fraction of a nanosecond, and for an offset given\n"
                    "        with unit D.\n"
                    "    TypeError: For a format that names a field the values lack.",
                    param<Any>("array"), param<Keep<OrNone<OffsetOrZone>>>("offset", {}),
                    param<OrNone<FormatArg>>("format", {}).keyword_only());

// --- to_numpy -------------------------------------------------------------------

// The value of one element in the column's unit.
using Encode = Outcome (*)(PyObject *, ColumnUnit, std::int64_t &);

static Outcome encode_date(PyObject *o, ColumnUnit, std::int64_t &out) {
    out = days_since_unix_epoch(DateObject::of(o));
    return Outcome::Ok;
}
static Outcome encode_datetime(PyObject *o, ColumnUnit u, std::int64_t &out) {
    return datetime_to_units(DateTimeObject::of(o), u, out);
}
static Outcome encode_offset_datetime(PyObject *o, ColumnUnit u, std::int64_t &out) {
    return datetime_to_units(OffsetDateTimeObject::of(o).utc, u, out);
}
static Outcome encode_zoned(PyObject *o, ColumnUnit u, std::int64_t &out) {
    return datetime_to_units(zoned_of(o).utc, u, out);
}
static Outcome encode_duration(PyObject *o, ColumnUnit u, std::int64_t &out) {
    return nanos_to_units(DurationObject::of(o), u, out);
}

// The repr of a value, or for an OffsetDateTime whose local reading has no
// text, the call that makes it from its UTC reading.
static PyObject *value_repr(PyObject *o) {
    PyObject *text = PyObject_Repr(o);
    if (text != nullptr || !Py_IS_TYPE(o, OffsetDateTimeObject::type())) return text;
    PyErr_Clear();
    const OffsetDateTime v = OffsetDateTimeObject::of(o);
    PyObject *utc = DateTimeObject::wrap(v.utc);
    PyObject *offset = utc ? UtcOffsetObject::wrap(v.offset) : nullptr;
    text = offset ? PyUnicode_FromFormat("OffsetDateTime.from_utc(%R, %R)", utc, offset) : nullptr;
    Py_XDECREF(utc);
    Py_XDECREF(offset);
    return text;
}

// Fills `out` from a list or tuple of values of exactly `type`.
static bool encode_all(PyObject *seq, Py_ssize_t size, PyTypeObject *type, Encode encode, ColumnUnit u, PyObject *dtype,
                       std::int64_t *out) {
    for (Py_ssize_t i = 0; i < size && i < PySequence_Fast_GET_SIZE(seq); ++i) {
        PyObject *o = PySequence_Fast_ITEMS(seq)[i];
        if (MERANDOL_UNLIKELY(!Py_IS_TYPE(o, type))) {
            PyErr_Format(PyExc_TypeError, "values[%zd] is '%T', but values[0] is '%s'", i, o, type->tp_name);
            return false;
        }
        const Outcome outcome = encode(o, u, out[i]);
        if (MERANDOL_UNLIKELY(outcome != Outcome::Ok)) {
            PyObject *text = value_repr(o);
            if (text == nullptr) return false;
            if (outcome == Outcome::Remainder)
                PyErr_Format(PyExc_ValueError, "values[%zd] = %U is not a whole number of units of %U", i, text, dtype);
            else
                PyErr_Format(PyExc_ValueError, "values[%zd] = %U is outside the range of %U", i, text, dtype);
            Py_DECREF(text);
            return false;
        }
    }
    if (PySequence_Fast_GET_SIZE(seq) != size) {
        PyErr_SetString(PyExc_RuntimeError, "values changed size while it was read");
        return false;
    }
    return true;
}

using NumpyClasses = ClassSet<ClassId::Date, ClassId::DateTime, ClassId::OffsetDateTime, ClassId::Duration>;

static PyObject *to_numpy(PyObject *, PyObject *values, Kept<std::optional<std::string_view>> unit) {
    const Numpy *np = numpy("to_numpy()");
    if (np == nullptr) return nullptr;
    PyObject *seq = PySequence_Fast(values, "values must be an iterable of merandol values");
    if (seq == nullptr) return nullptr;
    PyObject *result = nullptr;
    Py_BEGIN_CRITICAL_SECTION(seq);
    const Py_ssize_t size = PySequence_Fast_GET_SIZE(seq);
    PyTypeObject *type = size > 0 ? Py_TYPE(PySequence_Fast_ITEMS(seq)[0]) : nullptr;
    // A ZonedDateTime, not one of merandol's classes, counts as its instant.
    const bool zoned = size > 0 && is_zoned(PySequence_Fast_ITEMS(seq)[0]);
    const ClassId id = zoned ? ClassId::OffsetDateTime : size > 0 ? NumpyClasses::find(type) : ClassId::DateTime;
    Encode encode = nullptr;
    switch (id) {
        case ClassId::Date: encode = encode_date; break;
        case ClassId::DateTime: encode = encode_datetime; break;
        case ClassId::OffsetDateTime: encode = zoned ? encode_zoned : encode_offset_datetime; break;
        case ClassId::Duration: encode = encode_duration; break;
        default: break;
    }
    const bool datetime = id != ClassId::Duration;
    ColumnUnit u{id == ClassId::Date ? Unit::D : Unit::ns, 1};
    PyObject *dtype = nullptr;
    if (encode == nullptr)
        PyErr_Format(PyExc_TypeError, "values[0] is '%T', not a merandol %s, or a ZonedDateTime",
                     PySequence_Fast_ITEMS(seq)[0], NumpyClasses::kNames.data());
    else if (unit.value && !find_unit(*unit.value, u.unit))
        PyErr_Format(PyExc_ValueError, "to_numpy(): %R is not a unit of numpy's datetime64", unit.object);
    else if (id == ClassId::Date && u.unit != Unit::D)
        PyErr_Format(PyExc_ValueError, "to_numpy(): dates are datetime64[D], not datetime64[%U]", unit.object);
    else if (!datetime && u.is_calendar())
        PyErr_Format(PyExc_ValueError, "to_numpy(): a Duration has no length in %R units", unit.object);
    else
        dtype = u.dtype(datetime);
    if (dtype != nullptr) {
        Py_buffer out;
        PyObject *array = new_int64_array(*np, size, out);
        if (array != nullptr) {
            const bool ok =
                size == 0 || encode_all(seq, size, type, encode, u, dtype, static_cast<std::int64_t *>(out.buf));
            PyBuffer_Release(&out);
            if (ok)
                result = view_as(array, PyUnicode_AsUTF8(dtype));
            else
                Py_DECREF(array);
        }
        Py_DECREF(dtype);
    }
    Py_END_CRITICAL_SECTION();
    Py_DECREF(seq);
    return result;
}
static constexpr auto to_numpy_decl =
    module_function("to_numpy", to_numpy,
                    "Convert a sequence of values of one class to a numpy array.\n"
                    "\n"
                    "Args:\n"
                    "    values: A sequence of values of one class: Date, DateTime,\n"
                    "        OffsetDateTime or ZonedDateTime (its instant) or Duration.\n"
                    "    unit: One of numpy's units; None gives \"ns\" (\"D\" for dates)\n"
                    "        (default=None).\n"
                    "\n"
                    "Returns:\n"
                    "    numpy.ndarray: datetime64[D] for Date, datetime64[unit] for DateTime,\n"
                    "    OffsetDateTime and ZonedDateTime, and timedelta64[unit] for Duration; an\n"
                    "    empty sequence gives datetime64[unit].\n"
                    "\n"
                    "Raises:\n"
                    "    ValueError: Naming the index, for a value outside the unit's range or\n"
                    "        not a whole number of units.\n"
                    "    TypeError: For a sequence of mixed classes.",
                    param<Any>("values"), param<Keep<OrNone<Text>>>("unit", {}));

static PyMethodDef numpy_functions[] = {
    row<to_local_numpy_decl>(), row<from_local_numpy_decl>(), row<to_numpy_decl>(),
    row<from_numpy_decl>(),     row<format_numpy_decl>(),     kEndOfMethods,
};

extern const InteropUnit kNumpyUnit = {numpy_functions, nullptr, {}};

}  // namespace merandol::py
