// The Date and Weekday classes.
#include "core/date.hpp"

#include "binding/compat.hpp"
#include "binding/declare.hpp"
#include "core/digits.hpp"
#include "module/classes.hpp"
#include "module/date.hpp"

namespace merandol::py {

// --- Weekday ---------------------------------------------------------------

static constexpr auto weekday_class = declare_class<WeekdayObject>();

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

static PyObject *weekday_number_from_monday(PyObject *self) {
    return int_from(static_cast<std::int64_t>(number_from_monday(WeekdayObject::of(self))));
}
static constexpr auto weekday_number_from_monday_decl = weekday_class.instance_method(
    "number_from_monday", weekday_number_from_monday, "Get the weekday number from Monday (1-7).");

// Pickled by name, so that unpickling gives back the class attribute.
static PyObject *weekday_reduce(PyObject *self) {
    static const char *const attribute_names[7] = {"Weekday.MONDAY",   "Weekday.TUESDAY", "Weekday.WEDNESDAY",
                                                   "Weekday.THURSDAY", "Weekday.FRIDAY",  "Weekday.SATURDAY",
                                                   "Weekday.SUNDAY"};
    return PyUnicode_FromString(attribute_names[static_cast<unsigned>(WeekdayObject::of(self))]);
}
static constexpr auto weekday_reduce_decl = weekday_class.reduce(weekday_reduce);

static PyMethodDef weekday_methods[] = {
    row<weekday_number_from_monday_decl>(),
    row<weekday_reduce_decl>(),
    kEndOfMethods,
};

static PyType_Slot weekday_slots[] = {
    MERANDOL_INSTANCE_SLOTS(WeekdayObject),
    {Py_tp_repr, reinterpret_cast<void *>(weekday_str)},
    {Py_tp_str, reinterpret_cast<void *>(weekday_str)},
    {Py_tp_methods, weekday_methods},
    {0, nullptr},
};

static PyType_Spec weekday_spec = {
    .name = weekday_class.qualified_name,
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

const ClassDef kWeekdayClass = {&weekday_spec, weekday_finish};

// --- Date ------------------------------------------------------------------

static constexpr auto date_class = declare_class<DateObject>();

static PyObject *date_new(PyTypeObject *type, std::int32_t year, std::uint8_t month, std::uint8_t day) {
    const auto date = Date::make(year, month, day);
    if (MERANDOL_UNLIKELY(!date)) return value_error("Invalid date: ", error_name(date.error()));
    return DateObject::wrap_as(type, *date);
}
static constexpr auto date_new_decl = date_class.constructor(
    date_new, param<Int<std::int32_t>>("year"), param<Int<std::uint8_t>>("month"), param<Int<std::uint8_t>>("day"));

static PyObject *date_year(PyObject *self, void *) { return int_from(std::int64_t{DateObject::of(self).year}); }
static PyObject *date_month(PyObject *self, void *) { return int_from(std::int64_t{DateObject::of(self).month}); }
static PyObject *date_day(PyObject *self, void *) { return int_from(std::int64_t{DateObject::of(self).day}); }

static PyObject *date_from_days_since_unix_epoch(PyObject *, std::int64_t days) {
    const auto date = from_days_since_unix_epoch(days);
    if (MERANDOL_UNLIKELY(!date)) return value_error("Invalid date: ", error_name(date.error()));
    return DateObject::wrap(*date);
}
static constexpr auto date_from_days_since_unix_epoch_decl = date_class.class_method(
    "from_days_since_unix_epoch", date_from_days_since_unix_epoch,
    "Create a Date from days since Unix epoch (1970-01-01).\n\nArgs:\n    days: Days since Unix epoch.\n\nReturns:\n"
    "    Date: A new Date instance.\n\nRaises:\n    ValueError: If the date is out of range.",
    param<I64>("days"));

static PyObject *date_days_since_unix_epoch(PyObject *self) {
    return int_from(days_since_unix_epoch(DateObject::of(self)));
}
static constexpr auto date_days_since_unix_epoch_decl = date_class.instance_method(
    "days_since_unix_epoch", date_days_since_unix_epoch, "Convert to days since Unix epoch (1970-01-01).");

static PyObject *date_weekday(PyObject *self) { return weekday_object(weekday(DateObject::of(self))); }
static constexpr auto date_weekday_decl = date_class.instance_method("weekday", date_weekday, "Get the weekday.");

static PyObject *date_ordinal(PyObject *self) { return int_from(std::int64_t{ordinal(DateObject::of(self))}); }
static constexpr auto date_ordinal_decl =
    date_class.instance_method("ordinal", date_ordinal, "Get the day of the year (1-366).");

static PyObject *date_add_days(PyObject *self, std::int64_t days) {
    const auto date = add_days(DateObject::of(self), days);
    if (MERANDOL_UNLIKELY(!date)) return value_error("Date out of range: ", error_name(date.error()));
    return DateObject::wrap(*date);
}
static constexpr auto date_add_days_decl = date_class.instance_method(
    "add_days", date_add_days,
    "Add days to the date.\n\nArgs:\n    days: Number of days to add (can be negative).\n\nReturns:\n"
    "    Date: A new Date instance.\n\nRaises:\n    ValueError: If the resulting date is out of range.",
    param<I64>("days"));

static PyObject *date_parse(PyObject *, std::string_view text) {
    const auto date = parse_date(text);
    if (MERANDOL_UNLIKELY(!date)) return value_error("Invalid date string: ", error_name(date.error()));
    return DateObject::wrap(*date);
}
static constexpr auto date_parse_decl = date_class.class_method(
    "parse", date_parse,
    "Parse a date from ISO format (YYYY-MM-DD).\n\nArgs:\n    s: The string to parse.\n\nReturns:\n"
    "    Date: A new Date instance.\n\nRaises:\n    ValueError: If the string is not a valid date.",
    param<Text>("s"));

static PyObject *date_str(PyObject *self) {
    char buffer[kDateTextMax];
    return ascii(buffer, write_date(buffer, DateObject::of(self)));
}

static PyObject *date_repr(PyObject *self) {
    const Date d = DateObject::of(self);
    char buffer[length("Date(year=") + digits::kTextMax<std::int32_t> + length(", month=") +
                digits::kTextMax<std::uint8_t> + length(", day=") + digits::kTextMax<std::uint8_t> + length(")")];
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

static PyObject *date_reduce(PyObject *self) {
    const Date d = DateObject::of(self);
    return reduce_value(DateObject::type(), nullptr,
                        Py_BuildValue("(iII)", d.year, unsigned{d.month}, unsigned{d.day}));
}
static constexpr auto date_reduce_decl = date_class.reduce(date_reduce);

static PyGetSetDef date_getset[] = {
    {"year", date_year, nullptr, nullptr, nullptr},
    {"month", date_month, nullptr, nullptr, nullptr},
    {"day", date_day, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

static PyMethodDef date_methods[] = {
    row<date_from_days_since_unix_epoch_decl>(),
    row<date_days_since_unix_epoch_decl>(),
    row<date_weekday_decl>(),
    row<date_ordinal_decl>(),
    row<date_add_days_decl>(),
    row<date_parse_decl>(),
    row<date_reduce_decl>(),
    kEndOfMethods,
};

static PyType_Slot date_slots[] = {
    MERANDOL_INSTANCE_SLOTS(DateObject),
    {Py_tp_doc, class_doc<date_new_decl>()},
    {Py_tp_new, reinterpret_cast<void *>(constructor_new<date_new_decl>)},
    {kVectorcallSlot, reinterpret_cast<void *>(constructor_vectorcall<date_new_decl>)},
    {Py_tp_str, reinterpret_cast<void *>(date_str)},
    {Py_tp_repr, reinterpret_cast<void *>(date_repr)},
    {Py_tp_richcompare, reinterpret_cast<void *>(date_richcompare)},
    {Py_tp_hash, reinterpret_cast<void *>(date_hash)},
    {Py_tp_getset, date_getset},
    {Py_tp_methods, date_methods},
    {0, nullptr},
};

static PyType_Spec date_spec = {
    .name = date_class.qualified_name,
    .basicsize = sizeof(DateObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = date_slots,
};

const ClassDef kDateClass = {&date_spec, nullptr};

}  // namespace merandol::py
