// What differs between the CPython releases the module is built for (3.13,
// 3.14 and 3.15), in one place, so that the class units read the same on
// each and behave the same to a script.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <iterator>

namespace merandol::py {

// A class's vectorcall constructor.  From 3.14 a spec names it in the slot
// Py_tp_vectorcall.  3.13 has no such slot, though it calls a class through
// the class's tp_vectorcall all the same: there the slot travels under the
// number 3.14 gave it, type_from_spec takes it out of the PyType_Spec, which
// PyType_FromSpec would refuse, and stores the function in the new class.
#ifdef Py_tp_vectorcall
inline constexpr int kVectorcallSlot = Py_tp_vectorcall;

inline PyObject *type_from_spec(PyType_Spec *spec) { return PyType_FromSpec(spec); }
#else
inline constexpr int kVectorcallSlot = 82;
static_assert(kVectorcallSlot == Py_am_send + 1, "3.14 numbered Py_tp_vectorcall after 3.13's last slot");

inline PyObject *type_from_spec(PyType_Spec *spec) {
    PyType_Slot slots[32];  // more than any class has, the terminator included
    vectorcallfunc constructor = nullptr;
    unsigned count = 0;
    for (const PyType_Slot *slot = spec->slots; slot->slot != 0; ++slot) {
        if (slot->slot == kVectorcallSlot) {
            constructor = reinterpret_cast<vectorcallfunc>(slot->pfunc);
        } else if (count + 1 < std::size(slots)) {
            slots[count++] = *slot;
        } else {
            PyErr_Format(PyExc_SystemError, "merandol: %s has too many slots", spec->name);
            return nullptr;
        }
    }
    slots[count] = {0, nullptr};
    PyType_Spec without_constructor = *spec;
    without_constructor.slots = slots;
    PyObject *type = PyType_FromSpec(&without_constructor);
    if (type != nullptr && constructor != nullptr) reinterpret_cast<PyTypeObject *>(type)->tp_vectorcall = constructor;
    return type;
}
#endif

}  // namespace merandol::py
