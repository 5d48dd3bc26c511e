// The Zone class, for the units that take or give a zone.
#pragma once

#include <utility>
#include "core/calendar_arithmetic.hpp"
#include "core/zone.hpp"

#include "binding/frame.hpp"
#include "interop/interop.hpp"
#include "module/datetime.hpp"
#include "module/offset.hpp"

namespace merandol::py {

// The class, made when the module is executed.
PyTypeObject *zone_type() noexcept;
bool is_zone(PyObject *o) noexcept;

// The zone's key (a str), or nullptr for one read from bytes without one.
PyObject *zone_key(PyObject *zone) noexcept;
const Zone &zone_of(PyObject *zone) noexcept;

// Zone(key): the cached zone, or one read and cached now.
PyObject *zone_for_key(PyObject *key);
// The same for a key read from a text (an RFC 9557 time zone).
PyObject *zone_for_key_text(std::string_view key);

// Whether unpickling finds the zone by its key; TypeError if not.
bool zone_pickles(PyObject *zone);

// Its key, or "a zone read from bytes", for messages.
PyObject *zone_name(PyObject *zone);

// The ValueError of a reading that from_zone_local did not settle, as
// Zone.from_local raises it.
PyObject *unsettled_local(PyObject *zone, DateTime local, ZoneLocalError error);

// A Zone object, borrowed.
struct ZoneObjectArg {
    using type = PyObject *;
    static bool convert(PyObject *o, type &out, const char *name) {
        if (MERANDOL_UNLIKELY(!is_zone(o))) {
            PyErr_Format(PyExc_TypeError, "'%T' object is not a merandol_interop Zone", o);
            note_argument(name);
            return false;
        }
        out = o;
        return true;
    }
};

// A DateTime, or an OffsetDateTime's instant.
struct Instant {
    using type = DateTime;
    static bool convert(PyObject *o, type &out, const char *name) {
        using Instants = ClassSet<ClassId::DateTime, ClassId::OffsetDateTime>;
        switch (Instants::find(Py_TYPE(o))) {
            case ClassId::DateTime: out = DateTimeObject::of(o); return true;
            case ClassId::OffsetDateTime: out = OffsetDateTimeObject::of(o).utc; return true;
            default:
                PyErr_Format(PyExc_TypeError, "'%T' object is not a merandol %s", o, Instants::kNames.data());
                note_argument(name);
                return false;
        }
    }
};

// --- ZonedDateTime (zones/zoned.cpp) ------------------------------------------

// An instant, the local reading there (always in the DateTime range), its
// Zone, and the offset in force with the span of instants it holds over.
struct ZonedValue {
    DateTime utc;
    DateTime local;
    PyObject *zone;  // borrowed from the object
    OffsetPeriod period;
};

bool is_zoned(PyObject *o) noexcept;
ZonedValue zoned_of(PyObject *o) noexcept;
// The instant in the zone; ValueError when its local reading lies beyond
// the range.
PyObject *zoned_from_instant(PyObject *zone, DateTime utc);

// ZonedDateTime.start_of, for the module function start_of.
PyObject *zoned_start_of(PyObject *zoned, CalendarUnit unit);

// ZonedDateTime.from_stdlib (conversions/stdlib.cpp): an aware datetime
// whose tzinfo is a zoneinfo.ZoneInfo with a key.
PyObject *zoned_from_stdlib(PyObject *dt);

// A UtcOffset, or a Zone whose offset each instant looks up.
struct OffsetOrZone {
    struct Value {
        UtcOffset offset;
        const Zone *zone;  // the zone object's, alive while the call holds it

        OffsetDateTime local(DateTime utc) const noexcept {
            return zone != nullptr ? to_zone(*zone, utc) : from_utc(utc, offset);
        }
    };
    using type = Value;
    static bool convert(PyObject *o, type &out, const char *name) {
        if (is_zone(o)) {
            out = {UtcOffset{0}, &zone_of(o)};
            return true;
        }
        out.zone = nullptr;
        return to_instance<UtcOffsetObject>(o, out.offset, name);
    }
};

// "compatible", "earlier", "later" or "raise".
struct DisambiguateWord {
    using type = Disambiguate;
    static constexpr std::pair<std::string_view, Disambiguate> kWords[] = {
        {"compatible", Disambiguate::Compatible},
        {"earlier", Disambiguate::Earlier},
        {"later", Disambiguate::Later},
        {"raise", Disambiguate::Raise},
    };
    // The word of a value, which a text signature shows as the default.
    static constexpr std::string_view word_of(Disambiguate how) noexcept {
        return kWords[static_cast<unsigned>(how)].first;
    }
    static bool convert(PyObject *o, type &out, const char *name) {
        std::string_view word;
        if (!to_text(o, word, name)) return false;
        for (const auto &[text, how] : kWords)
            if (word == text) {
                out = how;
                return true;
            }
        PyErr_Format(PyExc_ValueError, "disambiguate must be 'compatible', 'earlier', 'later' or 'raise', not %R", o);
        return false;
    }
};

}  // namespace merandol::py
