// The UtcOffset and OffsetDateTime classes.
#include "module/offset.hpp"

#include "core/digits.hpp"
#include "core/rfc3339.hpp"
#include "module/date.hpp"
#include "module/datetime.hpp"
#include "module/duration.hpp"
#include "module/time.hpp"

namespace merandol::py {

// --- UtcOffset -------------------------------------------------------------

static PyObject *utcoffset_from_seconds(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"seconds"};
    static const Params params = {"UtcOffset.from_seconds()", names, 1, 1};
    PyObject *arg[1];
    std::int32_t seconds = 0;
    if (!bind(params, args, nargs, kwnames, arg) || !to_int(arg[0], seconds, "seconds")) return nullptr;
    const auto offset = UtcOffset::from_seconds(seconds);
    if (MERANDOL_UNLIKELY(!offset)) return value_error("Invalid offset: ", error_name(offset.error()));
    return UtcOffsetObject::wrap(*offset);
}

static PyObject *utcoffset_from_hours_minutes(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"sign_positive", "hours", "minutes"};
    static const Params params = {"UtcOffset.from_hours_minutes()", names, 3, 3};
    PyObject *arg[3];
    bool sign_positive = true;
    std::uint8_t hours = 0, minutes = 0;
    if (!bind(params, args, nargs, kwnames, arg) || !to_bool(arg[0], sign_positive, "sign_positive") ||
        !to_int(arg[1], hours, "hours") || !to_int(arg[2], minutes, "minutes"))
        return nullptr;
    const auto offset = UtcOffset::from_hours_minutes(sign_positive, hours, minutes);
    if (MERANDOL_UNLIKELY(!offset)) return value_error("Invalid offset: ", error_name(offset.error()));
    return UtcOffsetObject::wrap(*offset);
}

static PyObject *utcoffset_as_seconds(PyObject *self, PyObject *) {
    return int_from(std::int64_t{UtcOffsetObject::of(self).seconds});
}

static PyObject *utcoffset_is_utc(PyObject *self, PyObject *) {
    return Py_NewRef(is_utc(UtcOffsetObject::of(self)) ? Py_True : Py_False);
}

static PyObject *utcoffset_str(PyObject *self) {
    char buffer[kOffsetTextSize];
    return ascii(buffer, write_offset(buffer, UtcOffsetObject::of(self)));
}

static PyObject *utcoffset_repr(PyObject *self) {
    char buffer[22 + 11 + 1];
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

static PyObject *utcoffset_reduce(PyObject *self, PyObject *) {
    return reduce_value(UtcOffsetObject::type(), "from_seconds",
                        Py_BuildValue("(i)", UtcOffsetObject::of(self).seconds));
}

static PyMethodDef utcoffset_methods[] = {
    {"from_seconds", method(utcoffset_from_seconds), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "from_seconds($cls, seconds)\n--\n\nCreate a UtcOffset from total seconds.\n\nArgs:\n    seconds: Total seconds "
     "offset from UTC (roughly -86400 to +86400).\n\nReturns:\n    UtcOffset: A new UtcOffset instance.\n\nRaises:\n"
     "    ValueError: If the offset is out of range."},
    {"from_hours_minutes", method(utcoffset_from_hours_minutes), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "from_hours_minutes($cls, sign_positive, hours, minutes)\n--\n\nCreate a UtcOffset from hours and minutes.\n\n"
     "Args:\n    sign_positive: True for positive offset, False for negative.\n    hours: Hours component (0-23).\n"
     "    minutes: Minutes component (0-59).\n\nReturns:\n    UtcOffset: A new UtcOffset instance.\n\nRaises:\n"
     "    ValueError: If the offset is out of range."},
    {"as_seconds", method(utcoffset_as_seconds), METH_NOARGS, "as_seconds($self)\n--\n\nGet the offset as seconds."},
    {"is_utc", method(utcoffset_is_utc), METH_NOARGS, "is_utc($self)\n--\n\nCheck if this is UTC (offset = 0)."},
    {"__reduce__", method(utcoffset_reduce), METH_NOARGS, kReduceDoc},
    {nullptr, nullptr, 0, nullptr},
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
    .name = "merandol.UtcOffset",
    .basicsize = sizeof(UtcOffsetObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = utcoffset_slots,
};

const ClassDef kUtcOffsetClass = {"UtcOffset", &utcoffset_spec, nullptr};

// --- OffsetDateTime --------------------------------------------------------

static PyObject *offsetdatetime_from_utc(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"utc", "offset"};
    static const Params params = {"OffsetDateTime.from_utc()", names, 2, 2};
    PyObject *arg[2];
    DateTime utc{};
    UtcOffset offset{};
    if (!bind(params, args, nargs, kwnames, arg) || !to_instance<DateTimeObject>(arg[0], utc, "utc") ||
        !to_instance<UtcOffsetObject>(arg[1], offset, "offset"))
        return nullptr;
    return OffsetDateTimeObject::wrap(from_utc(utc, offset));
}

static PyObject *offsetdatetime_from_local(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"date", "time", "offset"};
    static const Params params = {"OffsetDateTime.from_local()", names, 3, 3};
    PyObject *arg[3];
    Date date{};
    Time time{};
    UtcOffset offset{};
    if (!bind(params, args, nargs, kwnames, arg) || !to_instance<DateObject>(arg[0], date, "date") ||
        !to_instance<TimeObject>(arg[1], time, "time") || !to_instance<UtcOffsetObject>(arg[2], offset, "offset"))
        return nullptr;
    const auto value = from_local(date, time, offset);
    if (MERANDOL_UNLIKELY(!value)) return value_error("Invalid local datetime: ", error_name(value.error()));
    return OffsetDateTimeObject::wrap(*value);
}

static PyObject *offsetdatetime_utc(PyObject *self, void *) {
    return DateTimeObject::wrap(OffsetDateTimeObject::of(self).utc);
}

static PyObject *offsetdatetime_offset(PyObject *self, void *) {
    return UtcOffsetObject::wrap(OffsetDateTimeObject::of(self).offset);
}

static PyObject *offsetdatetime_to_local(PyObject *self, PyObject *) {
    const auto local = to_local(OffsetDateTimeObject::of(self));
    if (MERANDOL_UNLIKELY(!local)) return value_error("Local datetime out of range: ", error_name(local.error()));
    return DateTimeObject::wrap(*local);
}

static PyObject *offsetdatetime_unix_timestamp(PyObject *self, PyObject *) {
    return int_from(unix_timestamp(OffsetDateTimeObject::of(self)));
}

static PyObject *offsetdatetime_unix_timestamp_nanos(PyObject *self, PyObject *) {
    return int_from(unix_timestamp_nanos(OffsetDateTimeObject::of(self)));
}

static PyObject *offsetdatetime_add_duration(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                                             PyObject *kwnames) {
    static const char *const names[] = {"dur"};
    static const Params params = {"OffsetDateTime.add_duration()", names, 1, 1};
    PyObject *arg[1];
    i128 span = 0;
    if (!bind(params, args, nargs, kwnames, arg) || !to_instance<DurationObject>(arg[0], span, "dur")) return nullptr;
    const auto value = add_duration(OffsetDateTimeObject::of(self), span);
    if (MERANDOL_UNLIKELY(!value)) return value_error("DateTime out of range: ", error_name(value.error()));
    return OffsetDateTimeObject::wrap(*value);
}

static PyObject *offsetdatetime_difference(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"other"};
    static const Params params = {"OffsetDateTime.difference()", names, 1, 1};
    PyObject *arg[1];
    OffsetDateTime other{};
    if (!bind(params, args, nargs, kwnames, arg) || !to_instance<OffsetDateTimeObject>(arg[0], other, "other"))
        return nullptr;
    return DurationObject::wrap(difference(OffsetDateTimeObject::of(self), other));
}

static PyObject *offsetdatetime_parse(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"s"};
    static const Params params = {"OffsetDateTime.parse()", names, 1, 1};
    PyObject *arg[1];
    std::string_view text;
    if (!bind(params, args, nargs, kwnames, arg) || !to_text(arg[0], text, "s")) return nullptr;
    const auto value = parse_rfc3339(text);
    if (MERANDOL_UNLIKELY(!value))
        // The format text is ASCII; the "±" goes in through %s, which is UTF-8.
        return PyErr_Format(PyExc_ValueError,
                            "Invalid offset datetime string '%U'. Expected RFC 3339 format: "
                            "YYYY-MM-DDTHH:MM:SS[.fffffffff][Z|%sHH:MM]",
                            arg[0], "\xc2\xb1");
    return OffsetDateTimeObject::wrap(*value);
}

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
    char buffer[22 + kRfc3339TextMax + 2];
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
static PyObject *offsetdatetime_reduce(PyObject *self, PyObject *) {
    return reduce_value(OffsetDateTimeObject::type(), "from_utc",
                        Py_BuildValue("(NN)", offsetdatetime_utc(self, nullptr), offsetdatetime_offset(self, nullptr)));
}

static PyGetSetDef offsetdatetime_getset[] = {
    {"utc", offsetdatetime_utc, nullptr, nullptr, nullptr},
    {"offset", offsetdatetime_offset, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

static PyMethodDef offsetdatetime_methods[] = {
    {"from_utc", method(offsetdatetime_from_utc), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "from_utc($cls, utc, offset)\n--\n\nCreate an OffsetDateTime from a UTC DateTime and offset.\n\nArgs:\n    utc: "
     "A DateTime instance (in UTC).\n    offset: A UtcOffset instance.\n\nReturns:\n    OffsetDateTime: A new "
     "OffsetDateTime instance."},
    {"from_local", method(offsetdatetime_from_local), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "from_local($cls, date, time, offset)\n--\n\nCreate an OffsetDateTime from local date, time, and offset.\n\n"
     "Args:\n    date: A Date instance (in local time).\n    time: A Time instance (in local time).\n    offset: A "
     "UtcOffset instance.\n\nReturns:\n    OffsetDateTime: A new OffsetDateTime instance.\n\nRaises:\n    "
     "ValueError: If the conversion fails."},
    {"to_local", method(offsetdatetime_to_local), METH_NOARGS,
     "to_local($self)\n--\n\nConvert to local DateTime.\n\nReturns:\n    DateTime: The local DateTime.\n\nRaises:\n"
     "    ValueError: If the conversion fails."},
    {"unix_timestamp", method(offsetdatetime_unix_timestamp), METH_NOARGS,
     "unix_timestamp($self)\n--\n\nGet Unix timestamp (seconds since Unix epoch)."},
    {"unix_timestamp_nanos", method(offsetdatetime_unix_timestamp_nanos), METH_NOARGS,
     "unix_timestamp_nanos($self)\n--\n\nGet Unix timestamp in nanoseconds."},
    {"add_duration", method(offsetdatetime_add_duration), METH_FASTCALL | METH_KEYWORDS,
     "add_duration($self, dur)\n--\n\nAdd a duration.\n\nArgs:\n    dur: A Duration instance.\n\nReturns:\n    "
     "OffsetDateTime: A new OffsetDateTime instance.\n\nRaises:\n    ValueError: If the resulting datetime is out of "
     "range."},
    {"difference", method(offsetdatetime_difference), METH_FASTCALL | METH_KEYWORDS,
     "difference($self, other)\n--\n\nCalculate the difference between two OffsetDateTimes.\n\nArgs:\n    other: "
     "Another OffsetDateTime instance.\n\nReturns:\n    Duration: The duration between the two datetimes (self - "
     "other)."},
    {"parse", method(offsetdatetime_parse), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "parse($cls, s)\n--\n\nParse an OffsetDateTime from RFC 3339 format.\n\nArgs:\n    s: The string to parse.\n\n"
     "Returns:\n    OffsetDateTime: A new OffsetDateTime instance.\n\nRaises:\n    ValueError: If the string is not "
     "valid."},
    {"__reduce__", method(offsetdatetime_reduce), METH_NOARGS, kReduceDoc},
    {nullptr, nullptr, 0, nullptr},
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
    .name = "merandol.OffsetDateTime",
    .basicsize = sizeof(OffsetDateTimeObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = offsetdatetime_slots,
};

const ClassDef kOffsetDateTimeClass = {"OffsetDateTime", &offsetdatetime_spec, nullptr};

}  // namespace merandol::py
