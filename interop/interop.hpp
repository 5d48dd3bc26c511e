// What the units of merandol_interop share: how a unit hands its functions
// to the module, and the one way a function tells which of merandol's
// classes it was given.
#pragma once

#include "binding/declare.hpp"

namespace merandol::py {

// A unit's module functions (a method table ending in kEndOfMethods), a
// step that runs when the module is executed, or nullptr, and the other
// attributes that step adds (a class, an exception), listed in __all__
// after the functions.
struct InteropUnit {
    PyMethodDef *functions;
    int (*exec)(PyObject *module);
    std::array<const char *, 4> attributes;
};

// Some of merandol's classes, in the order a message lists them.  The
// classes are final, so an object's exact type decides.
template <ClassId... Ids>
struct ClassSet {
    // The class of these that `type` is, or ClassId::Count.
    static ClassId find(const void *type) noexcept {
        ClassId found = ClassId::Count;
        (void)((type == class_object(Ids) ? (found = Ids, true) : false) || ...);
        return found;
    }

    // "Date, Time or DateTime".
    static constexpr void put_names(TextWriter &w) noexcept {
        std::size_t i = 0;
        auto put_one = [&](ClassId id) {
            if (i > 0) w.put(i + 1 == sizeof...(Ids) ? " or " : ", ");
            w.put(kClassNames[static_cast<unsigned>(id)]);
            ++i;
        };
        (put_one(Ids), ...);
    }
    static constexpr auto kNames = compose<put_names>();
};

}  // namespace merandol::py
