// The Date and Weekday classes.
#include "core/date.hpp"

#include "core/digits.hpp"
#include "module/date.hpp"

namespace merandol::py {

// --- Weekday ---------------------------------------------------------------

// The seven class attributes, made once with the class.  Date.weekday()
// hands out these same objects, so `is` and `==` with Weekday.MONDAY hold.
static PyObject *g_weekdays[7];

// A Date exists only after the module's import registered Weekday, which
// filled the table, so the table is read without a check.
PyObject *weekday_object(Weekday w) { return Py_NewRef(g_weekdays[static_cast<unsigned>(w)]); }

static PyObject *weekday_str(PyObject *self) {
    const std::string_view name = weekday_name(WeekdayObject::of(self));
    return ascii(name.data(), name.size());
}

static PyObject *weekday_number_from_monday(PyObject *self, PyObject *) {
    return int_from(static_cast<std::int64_t>(number_from_monday(WeekdayObject::of(self))));
}

// Pickled by name, so that unpickling gives back the class attribute.
static PyObject *weekday_reduce(PyObject *self, PyObject *) {
    static const char *const attribute_names[7] = {"Weekday.MONDAY",   "Weekday.TUESDAY", "Weekday.WEDNESDAY",
                                                   "Weekday.THURSDAY", "Weekday.FRIDAY",  "Weekday.SATURDAY",
                                                   "Weekday.SUNDAY"};
    return PyUnicode_FromString(attribute_names[static_cast<unsigned>(WeekdayObject::of(self))]);
}

static PyMethodDef weekday_methods[] = {
    {"number_from_monday", method(weekday_number_from_monday), METH_NOARGS,
     "number_from_monday($self)\n--\n\nGet the weekday number from Monday (1-7)."},
    {"__reduce__", method(weekday_reduce), METH_NOARGS, kReduceDoc},
    {nullptr, nullptr, 0, nullptr},
};

static PyType_Slot weekday_slots[] = {
    MERANDOL_INSTANCE_SLOTS(WeekdayObject),
    {Py_tp_repr, reinterpret_cast<void *>(weekday_str)},
    {Py_tp_str, reinterpret_cast<void *>(weekday_str)},
    {Py_tp_methods, weekday_methods},
    {0, nullptr},
};

static PyType_Spec weekday_spec = {
    .name = "merandol.Weekday",
    .basicsize = sizeof(WeekdayObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = weekday_slots,
};

static int weekday_finish(PyTypeObject *type) {
    static const char *const attribute_names[7] = {"MONDAY", "TUESDAY",  "WEDNESDAY", "THURSDAY",
                                                   "FRIDAY", "SATURDAY", "SUNDAY"};
    for (unsigned i = 0; i < 7; ++i) {
        PyObject *day = WeekdayObject::wrap_as(type, static_cast<Weekday>(i));
        if (day == nullptr || PyObject_SetAttrString(reinterpret_cast<PyObject *>(type), attribute_names[i], day) < 0) {
            Py_XDECREF(day);
            return -1;
        }
        g_weekdays[i] = day;  // kept for the life of the process
    }
    return 0;
}

const ClassDef kWeekdayClass = {"Weekday", &weekday_spec, weekday_finish};

// --- Date ------------------------------------------------------------------

static const char *const date_names[] = {"year", "month", "day"};
static const Params date_params = {"Date.__new__()", date_names, 3, 3};

static PyObject *date_make(PyTypeObject *type, PyObject *const *arg) {
    std::int32_t year = 0;
    std::uint8_t month = 0, day = 0;
    if (!to_int(arg[0], year, "year") || !to_int(arg[1], month, "month") || !to_int(arg[2], day, "day")) return nullptr;
    const auto date = Date::make(year, month, day);
    if (MERANDOL_UNLIKELY(!date)) return value_error("Invalid date: ", error_name(date.error()));
    return DateObject::wrap_as(type, *date);
}

static PyObject *date_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    PyObject *arg[3];
    return bind_tuple(date_params, args, kwargs, arg) ? date_make(type, arg) : nullptr;
}

#ifdef Py_tp_vectorcall  // CPython 3.14 and later
static PyObject *date_vectorcall(PyObject *type, PyObject *const *args, std::size_t nargsf, PyObject *kwnames) {
    PyObject *arg[3];
    return bind(date_params, args, PyVectorcall_NARGS(nargsf), kwnames, arg)
               ? date_make(reinterpret_cast<PyTypeObject *>(type), arg)
               : nullptr;
}
#endif

static PyObject *date_year(PyObject *self, void *) { return int_from(std::int64_t{DateObject::of(self).year}); }
static PyObject *date_month(PyObject *self, void *) { return int_from(std::int64_t{DateObject::of(self).month}); }
static PyObject *date_day(PyObject *self, void *) { return int_from(std::int64_t{DateObject::of(self).day}); }

static PyObject *date_from_days_since_unix_epoch(PyObject *, PyObject *const *args, Py_ssize_t nargs,
                                                 PyObject *kwnames) {
    static const char *const names[] = {"days"};
    static const Params params = {"Date.from_days_since_unix_epoch()", names, 1, 1};
    PyObject *arg[1];
    std::int64_t days = 0;
    if (!bind(params, args, nargs, kwnames, arg) || !to_i64(arg[0], days, "days")) return nullptr;
    const auto date = from_days_since_unix_epoch(days);
    if (MERANDOL_UNLIKELY(!date)) return value_error("Invalid date: ", error_name(date.error()));
    return DateObject::wrap(*date);
}

static PyObject *date_days_since_unix_epoch(PyObject *self, PyObject *) {
    return int_from(days_since_unix_epoch(DateObject::of(self)));
}

static PyObject *date_weekday(PyObject *self, PyObject *) { return weekday_object(weekday(DateObject::of(self))); }

static PyObject *date_ordinal(PyObject *self, PyObject *) {
    return int_from(std::int64_t{ordinal(DateObject::of(self))});
}

static PyObject *date_add_days(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"days"};
    static const Params params = {"Date.add_days()", names, 1, 1};
    PyObject *arg[1];
    std::int64_t days = 0;
    if (!bind(params, args, nargs, kwnames, arg) || !to_i64(arg[0], days, "days")) return nullptr;
    const auto date = add_days(DateObject::of(self), days);
    if (MERANDOL_UNLIKELY(!date)) return value_error("Date out of range: ", error_name(date.error()));
    return DateObject::wrap(*date);
}

static PyObject *date_parse(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"s"};
    static const Params params = {"Date.parse()", names, 1, 1};
    PyObject *arg[1];
    std::string_view text;
    if (!bind(params, args, nargs, kwnames, arg) || !to_text(arg[0], text, "s")) return nullptr;
    const auto date = parse_date(text);
    if (MERANDOL_UNLIKELY(!date)) return value_error("Invalid date string: ", error_name(date.error()));
    return DateObject::wrap(*date);
}

static PyObject *date_str(PyObject *self) {
    char buffer[kDateTextMax];
    return ascii(buffer, write_date(buffer, DateObject::of(self)));
}

static PyObject *date_repr(PyObject *self) {
    const Date d = DateObject::of(self);
    // "Date(year=" 10 + year 11 + ", month=" 8 + 2 + ", day=" 6 + 2 + ")" 1
    char buffer[48];
    char *p = buffer;
    p = put(p, "Date(year=");
    p = digits::write_i64(p, d.year);
    p = put(p, ", month=");
    p = digits::write_u64(p, d.month);
    p = put(p, ", day=");
    p = digits::write_u64(p, d.day);
    p = put(p, ")");
    return ascii(buffer, p);
}

// Year (4 bytes, little-endian), month, day.
static Py_hash_t date_hash(PyObject *self) {
    const Date d = DateObject::of(self);
    return hash_words<6>({word_bits(d.year) | word_bits(d.month) << 32 | word_bits(d.day) << 40});
}

static PyObject *date_richcompare(PyObject *self, PyObject *other, int op) {
    return richcompare<DateObject, [](Date a, Date b) { return a == b; }, [](Date a, Date b) { return compare(a, b); }>(
        self, other, op);
}

static PyObject *date_reduce(PyObject *self, PyObject *) {
    const Date d = DateObject::of(self);
    return reduce_value(DateObject::type(), nullptr,
                        Py_BuildValue("(iII)", d.year, unsigned{d.month}, unsigned{d.day}));
}

static PyGetSetDef date_getset[] = {
    {"year", date_year, nullptr, nullptr, nullptr},
    {"month", date_month, nullptr, nullptr, nullptr},
    {"day", date_day, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

static PyMethodDef date_methods[] = {
    {"from_days_since_unix_epoch", method(date_from_days_since_unix_epoch), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "from_days_since_unix_epoch($cls, days)\n--\n\nCreate a Date from days since Unix epoch (1970-01-01).\n\n"
     "Args:\n    days: Days since Unix epoch.\n\nReturns:\n    Date: A new Date instance.\n\n"
     "Raises:\n    ValueError: If the date is out of range."},
    {"days_since_unix_epoch", method(date_days_since_unix_epoch), METH_NOARGS,
     "days_since_unix_epoch($self)\n--\n\nConvert to days since Unix epoch (1970-01-01)."},
    {"weekday", method(date_weekday), METH_NOARGS, "weekday($self)\n--\n\nGet the weekday."},
    {"ordinal", method(date_ordinal), METH_NOARGS, "ordinal($self)\n--\n\nGet the day of the year (1-366)."},
    {"add_days", method(date_add_days), METH_FASTCALL | METH_KEYWORDS,
     "add_days($self, days)\n--\n\nAdd days to the date.\n\nArgs:\n    days: Number of days to add (can be negative)."
     "\n\nReturns:\n    Date: A new Date instance.\n\nRaises:\n    ValueError: If the resulting date is out of range."},
    {"parse", method(date_parse), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "parse($cls, s)\n--\n\nParse a date from ISO format (YYYY-MM-DD).\n\nArgs:\n    s: The string to parse.\n\n"
     "Returns:\n    Date: A new Date instance.\n\nRaises:\n    ValueError: If the string is not a valid date."},
    {"__reduce__", method(date_reduce), METH_NOARGS, kReduceDoc},
    {nullptr, nullptr, 0, nullptr},
};

static PyType_Slot date_slots[] = {
    MERANDOL_INSTANCE_SLOTS(DateObject),
    {Py_tp_doc, const_cast<char *>("Date(year, month, day)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void *>(date_new)},
#ifdef Py_tp_vectorcall  // CPython 3.14 and later
    {Py_tp_vectorcall, reinterpret_cast<void *>(date_vectorcall)},
#endif
    {Py_tp_str, reinterpret_cast<void *>(date_str)},
    {Py_tp_repr, reinterpret_cast<void *>(date_repr)},
    {Py_tp_richcompare, reinterpret_cast<void *>(date_richcompare)},
    {Py_tp_hash, reinterpret_cast<void *>(date_hash)},
    {Py_tp_getset, date_getset},
    {Py_tp_methods, date_methods},
    {0, nullptr},
};

static PyType_Spec date_spec = {
    .name = "merandol.Date",
    .basicsize = sizeof(DateObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = date_slots,
};

const ClassDef kDateClass = {"Date", &date_spec, nullptr};

}  // namespace merandol::py
