// The UtcOffset and OffsetDateTime classes.
#include "module/offset.hpp"

#include "binding/declare.hpp"
#include "core/digits.hpp"
#include "core/rfc3339.hpp"
#include "module/classes.hpp"
#include "module/date.hpp"
#include "module/datetime.hpp"
#include "module/duration.hpp"
#include "module/time.hpp"

namespace merandol::py {

// --- UtcOffset -------------------------------------------------------------

static constexpr auto utcoffset_class = declare_class<UtcOffsetObject>();

static PyObject *utcoffset_from_seconds(PyObject *, std::int32_t seconds) {
    const auto offset = UtcOffset::from_seconds(seconds);
    if (MERANDOL_UNLIKELY(!offset)) return value_error("Invalid offset: ", error_name(offset.error()));
    return UtcOffsetObject::wrap(*offset);
}
static constexpr auto utcoffset_from_seconds_decl = utcoffset_class.class_method(
    "from_seconds", utcoffset_from_seconds,
    "Create a UtcOffset from total seconds.\n\nArgs:\n    seconds: Total seconds offset from UTC (roughly -86400 to "
    "+86400).\n\nReturns:\n    UtcOffset: A new UtcOffset instance.\n\nRaises:\n    ValueError: If the offset is out "
    "of range.",
    param<Int<std::int32_t>>("seconds"));

static PyObject *utcoffset_from_hours_minutes(PyObject *, bool sign_positive, std::uint8_t hours,
                                              std::uint8_t minutes) {
    const auto offset = UtcOffset::from_hours_minutes(sign_positive, hours, minutes);
    if (MERANDOL_UNLIKELY(!offset)) return value_error("Invalid offset: ", error_name(offset.error()));
    return UtcOffsetObject::wrap(*offset);
}
static constexpr auto utcoffset_from_hours_minutes_decl = utcoffset_class.class_method(
    "from_hours_minutes", utcoffset_from_hours_minutes,
    "Create a UtcOffset from hours and minutes.\n\nArgs:\n    sign_positive: True for positive offset, False for "
    "negative.\n    hours: Hours component (0-23).\n    minutes: Minutes component (0-59).\n\nReturns:\n"
    "    UtcOffset: A new UtcOffset instance.\n\nRaises:\n    ValueError: If the offset is out of range.",
    param<Bool>("sign_positive"), param<Int<std::uint8_t>>("hours"), param<Int<std::uint8_t>>("minutes"));

static PyObject *utcoffset_as_seconds(PyObject *self) {
    return int_from(std::int64_t{UtcOffsetObject::of(self).seconds});
}
static constexpr auto utcoffset_as_seconds_decl =
    utcoffset_class.instance_method("as_seconds", utcoffset_as_seconds, "Get the offset as seconds.");

static PyObject *utcoffset_is_utc(PyObject *self) {
    return Py_NewRef(is_utc(UtcOffsetObject::of(self)) ? Py_True : Py_False);
}
static constexpr auto utcoffset_is_utc_decl =
    utcoffset_class.instance_method("is_utc", utcoffset_is_utc, "Check if this is UTC (offset = 0).");

static PyObject *utcoffset_str(PyObject *self) {
    char buffer[kOffsetTextSize];
    return ascii(buffer, write_offset(buffer, UtcOffsetObject::of(self)));
}

static PyObject *utcoffset_repr(PyObject *self) {
    char buffer[length("UtcOffset.from_seconds(") + digits::kTextMax<std::int32_t> + length(")")];
    char *p = put(buffer, "UtcOffset.from_seconds(");
    p = digits::write_i64(p, UtcOffsetObject::of(self).seconds);
    return ascii(buffer, put(p, ")"));
}

static Py_hash_t utcoffset_hash(PyObject *self) {
    return hash_words<4>({word_bits(UtcOffsetObject::of(self).seconds)});
}

static PyObject *utcoffset_richcompare(PyObject *self, PyObject *other, int op) {
    return richcompare<UtcOffsetObject, [](UtcOffset a, UtcOffset b) { return a == b; },
                       [](UtcOffset a, UtcOffset b) { return (a.seconds > b.seconds) - (a.seconds < b.seconds); }>(
        self, other, op);
}

static PyObject *utcoffset_reduce(PyObject *self) {
    return reduce_value(UtcOffsetObject::type(), "from_seconds",
                        Py_BuildValue("(i)", UtcOffsetObject::of(self).seconds));
}
static constexpr auto utcoffset_reduce_decl = utcoffset_class.reduce(utcoffset_reduce);

static PyMethodDef utcoffset_methods[] = {
    row<utcoffset_from_seconds_decl>(), row<utcoffset_from_hours_minutes_decl>(),
    row<utcoffset_as_seconds_decl>(),   row<utcoffset_is_utc_decl>(),
    row<utcoffset_reduce_decl>(),       kEndOfMethods,
};

static PyType_Slot utcoffset_slots[] = {
    MERANDOL_INSTANCE_SLOTS(UtcOffsetObject),
    {Py_tp_str, reinterpret_cast<void *>(utcoffset_str)},
    {Py_tp_repr, reinterpret_cast<void *>(utcoffset_repr)},
    {Py_tp_richcompare, reinterpret_cast<void *>(utcoffset_richcompare)},
    {Py_tp_hash, reinterpret_cast<void *>(utcoffset_hash)},
    {Py_tp_methods, utcoffset_methods},
    {0, nullptr},
};

static PyType_Spec utcoffset_spec = {
    .name = utcoffset_class.qualified_name,
    .basicsize = sizeof(UtcOffsetObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = utcoffset_slots,
};

const ClassDef kUtcOffsetClass = {&utcoffset_spec, nullptr};

// --- OffsetDateTime --------------------------------------------------------

static constexpr auto offsetdatetime_class = declare_class<OffsetDateTimeObject>();

static PyObject *offsetdatetime_from_utc(PyObject *, DateTime utc, UtcOffset offset) {
    return OffsetDateTimeObject::wrap(from_utc(utc, offset));
}
static constexpr auto offsetdatetime_from_utc_decl = offsetdatetime_class.class_method(
    "from_utc", offsetdatetime_from_utc,
    "Create an OffsetDateTime from a UTC DateTime and offset.\n\nArgs:\n    utc: A DateTime instance (in UTC).\n"
    "    offset: A UtcOffset instance.\n\nReturns:\n    OffsetDateTime: A new OffsetDateTime instance.",
    param<Of<DateTimeObject>>("utc"), param<Of<UtcOffsetObject>>("offset"));

static PyObject *offsetdatetime_from_local(PyObject *, Date date, Time time, UtcOffset offset) {
    const auto value = from_local(date, time, offset);
    if (MERANDOL_UNLIKELY(!value)) return value_error("Invalid local datetime: ", error_name(value.error()));
    return OffsetDateTimeObject::wrap(*value);
}
static constexpr auto offsetdatetime_from_local_decl = offsetdatetime_class.class_method(
    "from_local", offsetdatetime_from_local,
    "Create an OffsetDateTime from local date, time, and offset.\n\nArgs:\n    date: A Date instance (in local "
    "time).\n    time: A Time instance (in local time).\n    offset: A UtcOffset instance.\n\nReturns:\n"
    "    OffsetDateTime: A new OffsetDateTime instance.\n\nRaises:\n    ValueError: If the conversion fails.",
    param<Of<DateObject>>("date"), param<Of<TimeObject>>("time"), param<Of<UtcOffsetObject>>("offset"));

static PyObject *offsetdatetime_utc(PyObject *self, void *) {
    return DateTimeObject::wrap(OffsetDateTimeObject::of(self).utc);
}

static PyObject *offsetdatetime_offset(PyObject *self, void *) {
    return UtcOffsetObject::wrap(OffsetDateTimeObject::of(self).offset);
}

static PyObject *offsetdatetime_to_local(PyObject *self) {
    const auto local = to_local(OffsetDateTimeObject::of(self));
    if (MERANDOL_UNLIKELY(!local)) return value_error("Local datetime out of range: ", error_name(local.error()));
    return DateTimeObject::wrap(*local);
}
static constexpr auto offsetdatetime_to_local_decl = offsetdatetime_class.instance_method(
    "to_local", offsetdatetime_to_local,
    "Convert to local DateTime.\n\nReturns:\n    DateTime: The local DateTime.\n\nRaises:\n"
    "    ValueError: If the conversion fails.");

static PyObject *offsetdatetime_unix_timestamp(PyObject *self) {
    return int_from(unix_timestamp(OffsetDateTimeObject::of(self)));
}
static constexpr auto offsetdatetime_unix_timestamp_decl = offsetdatetime_class.instance_method(
    "unix_timestamp", offsetdatetime_unix_timestamp, "Get Unix timestamp (seconds since Unix epoch).");

static PyObject *offsetdatetime_unix_timestamp_nanos(PyObject *self) {
    return int_from(unix_timestamp_nanos(OffsetDateTimeObject::of(self)));
}
static constexpr auto offsetdatetime_unix_timestamp_nanos_decl = offsetdatetime_class.instance_method(
    "unix_timestamp_nanos", offsetdatetime_unix_timestamp_nanos, "Get Unix timestamp in nanoseconds.");

static PyObject *offsetdatetime_add_duration(PyObject *self, i128 span) {
    const auto value = add_duration(OffsetDateTimeObject::of(self), span);
    if (MERANDOL_UNLIKELY(!value)) return value_error("DateTime out of range: ", error_name(value.error()));
    return OffsetDateTimeObject::wrap(*value);
}
static constexpr auto offsetdatetime_add_duration_decl = offsetdatetime_class.instance_method(
    "add_duration", offsetdatetime_add_duration,
    "Add a duration.\n\nArgs:\n    dur: A Duration instance.\n\nReturns:\n    OffsetDateTime: A new OffsetDateTime "
    "instance.\n\nRaises:\n    ValueError: If the resulting datetime is out of range.",
    param<Of<DurationObject>>("dur"));

static PyObject *offsetdatetime_difference(PyObject *self, OffsetDateTime other) {
    return DurationObject::wrap(difference(OffsetDateTimeObject::of(self), other));
}
static constexpr auto offsetdatetime_difference_decl = offsetdatetime_class.instance_method(
    "difference", offsetdatetime_difference,
    "Calculate the difference between two OffsetDateTimes.\n\nArgs:\n    other: Another OffsetDateTime instance.\n\n"
    "Returns:\n    Duration: The duration between the two datetimes (self - other).",
    param<Of<OffsetDateTimeObject>>("other"));

static PyObject *offsetdatetime_parse(PyObject *, Kept<std::string_view> text) {
    const auto value = parse_rfc3339(text.value);
    if (MERANDOL_UNLIKELY(!value))
        // The format text is ASCII; the "\u00b1" goes in through %s, which is UTF-8.
        return PyErr_Format(PyExc_ValueError,
                            "Invalid offset datetime string '%U'. Expected RFC 3339 format: "
                            "YYYY-MM-DDTHH:MM:SS[.fffffffff][Z|%sHH:MM]",
                            text.object, "\xc2\xb1");
    return OffsetDateTimeObject::wrap(*value);
}
static constexpr auto offsetdatetime_parse_decl = offsetdatetime_class.class_method(
    "parse", offsetdatetime_parse,
    "Parse an OffsetDateTime from RFC 3339 format.\n\nArgs:\n    s: The string to parse.\n\nReturns:\n"
    "    OffsetDateTime: A new OffsetDateTime instance.\n\nRaises:\n    ValueError: If the string is not valid.",
    param<Keep<Text>>("s"));

// A value whose local reading lies outside the DateTime range is valid but
// has no text; that is reported as a ValueError so that printing it never
// escapes an ordinary exception handler.
static PyObject *local_out_of_range(DateError kind) {
    return value_error("OffsetDateTime local representation out of range: ", error_name(kind));
}

static PyObject *offsetdatetime_str(PyObject *self) {
    char buffer[kRfc3339TextMax];
    const auto end = write_rfc3339(buffer, OffsetDateTimeObject::of(self));
    if (MERANDOL_UNLIKELY(!end)) return local_out_of_range(end.error());
    return ascii(buffer, *end);
}

static PyObject *offsetdatetime_repr(PyObject *self) {
    char buffer[length("OffsetDateTime.parse('") + kRfc3339TextMax + length("')")];
    const auto end = write_rfc3339(put(buffer, "OffsetDateTime.parse('"), OffsetDateTimeObject::of(self));
    if (MERANDOL_UNLIKELY(!end)) return local_out_of_range(end.error());
    return ascii(buffer, put(*end, "')"));
}

// The date-time's 13 bytes, then the offset's 4 (little-endian): bytes 13
// to 15 close the second word, byte 16 is the last word.
static Py_hash_t offsetdatetime_hash(PyObject *self) {
    const OffsetDateTime &v = OffsetDateTimeObject::of(self);
    const auto [first, second] = datetime_hash_words(v.utc);
    const std::uint64_t offset = word_bits(v.offset.seconds);
    return hash_words<kDateTimeHashBytes + 4>({first, second | offset << 40, offset >> 24});
}

static PyObject *offsetdatetime_richcompare(PyObject *self, PyObject *other, int op) {
    return richcompare<OffsetDateTimeObject, [](const OffsetDateTime &a, const OffsetDateTime &b) { return a == b; },
                       [](const OffsetDateTime &a, const OffsetDateTime &b) { return compare(a, b); }>(self, other, op);
}

// The UTC reading and the offset, rebuilt through from_utc, so that a value
// whose local reading has no text pickles exactly too.
static PyObject *offsetdatetime_reduce(PyObject *self) {
    return reduce_value(OffsetDateTimeObject::type(), "from_utc",
                        Py_BuildValue("(NN)", offsetdatetime_utc(self, nullptr), offsetdatetime_offset(self, nullptr)));
}
static constexpr auto offsetdatetime_reduce_decl = offsetdatetime_class.reduce(offsetdatetime_reduce);

static PyGetSetDef offsetdatetime_getset[] = {
    {"utc", offsetdatetime_utc, nullptr, nullptr, nullptr},
    {"offset", offsetdatetime_offset, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

static PyMethodDef offsetdatetime_methods[] = {
    row<offsetdatetime_from_utc_decl>(),
    row<offsetdatetime_from_local_decl>(),
    row<offsetdatetime_to_local_decl>(),
    row<offsetdatetime_unix_timestamp_decl>(),
    row<offsetdatetime_unix_timestamp_nanos_decl>(),
    row<offsetdatetime_add_duration_decl>(),
    row<offsetdatetime_difference_decl>(),
    row<offsetdatetime_parse_decl>(),
    row<offsetdatetime_reduce_decl>(),
    kEndOfMethods,
};

static PyType_Slot offsetdatetime_slots[] = {
    MERANDOL_INSTANCE_SLOTS(OffsetDateTimeObject),
    {Py_tp_str, reinterpret_cast<void *>(offsetdatetime_str)},
    {Py_tp_repr, reinterpret_cast<void *>(offsetdatetime_repr)},
    {Py_tp_richcompare, reinterpret_cast<void *>(offsetdatetime_richcompare)},
    {Py_tp_hash, reinterpret_cast<void *>(offsetdatetime_hash)},
    {Py_tp_getset, offsetdatetime_getset},
    {Py_tp_methods, offsetdatetime_methods},
    {0, nullptr},
};

static PyType_Spec offsetdatetime_spec = {
    .name = offsetdatetime_class.qualified_name,
    .basicsize = sizeof(OffsetDateTimeObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = offsetdatetime_slots,
};

const ClassDef kOffsetDateTimeClass = {&offsetdatetime_spec, nullptr};

}  // namespace merandol::py
