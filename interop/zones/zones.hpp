// The Zone class, for the units that take or give a zone.
#pragma once

#include <utility>
#include "core/zone.hpp"

#include "binding/frame.hpp"
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
