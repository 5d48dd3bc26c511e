// The merandol_interop module.  It builds no classes: its class cache holds
// the class objects of the merandol module, looked up once, so that every
// value it takes or returns is of merandol's own classes.  Each unit brings
// its own functions.
#include "interop/interop.hpp"
#include "module/date.hpp"
#include "module/datetime.hpp"
#include "module/duration.hpp"
#include "module/offset.hpp"
#include "module/time.hpp"

namespace merandol::py {

std::atomic<PyTypeObject *> g_class_cache[kClassCount];

// Through the class's allocation slot: merandol's own, with its free lists.
PyObject *allocate_instance(PyTypeObject *type, Py_ssize_t) noexcept { return type->tp_alloc(type, 0); }

// The size of an instance of each class, to check that the object found
// under the name is the class these units were compiled against.
#define MERANDOL_INSTANCE_SIZE(Name) sizeof(Name##Object),
static constexpr Py_ssize_t kInstanceSizes[kClassCount] = {MERANDOL_CLASSES(MERANDOL_INSTANCE_SIZE)};
#undef MERANDOL_INSTANCE_SIZE

// Every class is looked up while the module executes; a later call only
// finds an empty slot if that failed, and then tries again.  Two threads
// racing here store the same object, and the cache keeps one reference.
PyTypeObject *build_class(ClassId id) {
    const unsigned index = static_cast<unsigned>(id);
    PyObject *module = PyImport_ImportModule("merandol");
    if (module == nullptr) return nullptr;
    PyObject *found = PyObject_GetAttrString(module, kClassNames[index]);
    Py_DECREF(module);
    if (found == nullptr) return nullptr;
    if (!PyType_Check(found) || reinterpret_cast<PyTypeObject *>(found)->tp_basicsize != kInstanceSizes[index]) {
        PyErr_Format(PyExc_ImportError, "merandol.%s is not the class merandol_interop was built for",
                     kClassNames[index]);
        Py_DECREF(found);
        return nullptr;
    }
    PyTypeObject *expected = nullptr;
    auto *type = reinterpret_cast<PyTypeObject *>(found);
    if (!g_class_cache[index].compare_exchange_strong(expected, type, std::memory_order_acq_rel)) {
        Py_DECREF(found);
        type = expected;
    }
    return type;
}

// The units, in the order their functions are listed in __all__.
extern const InteropUnit kStdlibUnit, kColumnsUnit, kNumpyUnit, kZonesUnit, kZonedUnit, kTextUnit, kArrowUnit,
    kSerdeUnit, kCalendarUnit, kCalendarColumnsUnit;
static const InteropUnit *const kUnits[] = {&kStdlibUnit,   &kColumnsUnit,        &kNumpyUnit, &kZonesUnit,
                                            &kZonedUnit,    &kTextUnit,           &kArrowUnit, &kSerdeUnit,
                                            &kCalendarUnit, &kCalendarColumnsUnit};

// Appends `name` to the list.
static int append_name(PyObject *all, const char *name) {
    PyObject *text = PyUnicode_FromString(name);
    const int appended = text ? PyList_Append(all, text) : -1;
    Py_XDECREF(text);
    return appended;
}

static int interop_exec(PyObject *module) {
    if (PyModule_AddStringConstant(module, "__version__", MERANDOL_VERSION) < 0) return -1;
    for (unsigned index = 0; index < kClassCount; ++index)
        if (class_object(static_cast<ClassId>(index)) == nullptr) return -1;
    PyObject *all = PyList_New(0);
    if (all == nullptr) return -1;
    for (const InteropUnit *unit : kUnits) {
        bool ok =
            (unit->exec == nullptr || unit->exec(module) == 0) && PyModule_AddFunctions(module, unit->functions) == 0;
        for (const PyMethodDef *def = unit->functions; ok && def->ml_name != nullptr; ++def)
            ok = append_name(all, def->ml_name) == 0;
        for (const char *name : unit->attributes) ok = ok && (name == nullptr || append_name(all, name) == 0);
        if (!ok) {
            Py_DECREF(all);
            return -1;
        }
    }
    return PyModule_Add(module, "__all__", all);
}

// merandol's caches hold only its own classes.  This module's also hold
// objects of other modules (numpy's functions, datetime's timezones), which
// belong to the interpreter that imported them, so the module stays with
// the main interpreter.
static PyModuleDef_Slot interop_slots[] = {
    {Py_mod_exec, reinterpret_cast<void *>(interop_exec)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

static PyModuleDef interop_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "merandol_interop",
    .m_doc =
        "merandol's companion: conversions to and from the standard datetime types, IANA time zones, "
        "and columns of values with numpy and Arrow.",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = interop_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace merandol::py

PyMODINIT_FUNC PyInit_merandol_interop(void) { return PyModuleDef_Init(&merandol::py::interop_def); }
