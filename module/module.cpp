// The merandol module: its class registry (each class built once and kept
// for the life of the process), the allocation and release of instances,
// the internal-failure exception and the module definition.  The companion
// module merandol_interop shares the frame but not this unit: it works with
// the class objects that this one builds.
#include "binding/compat.hpp"
#include "module/classes.hpp"

namespace merandol::py {

// --- Classes ---------------------------------------------------------------

#define MERANDOL_CLASS_DEF_ADDRESS(Name) &k##Name##Class,
static const ClassDef *const kClasses[kClassCount] = {MERANDOL_CLASSES(MERANDOL_CLASS_DEF_ADDRESS)};
#undef MERANDOL_CLASS_DEF_ADDRESS

std::atomic<PyTypeObject *> g_class_cache[kClassCount];

// Builds are serialised by one process-wide lock, so every class (and its
// finish step) runs exactly once; readers load the published pointer
// without locking.  PyMutex detaches the waiting thread from the
// interpreter, so a thread blocked here never holds up the GIL or a
// stop-the-world pause.
static PyMutex g_build_lock;

PyTypeObject *build_class(ClassId id) {
    const unsigned index = static_cast<unsigned>(id);
    PyMutex_Lock(&g_build_lock);
    PyTypeObject *type = g_class_cache[index].load(std::memory_order_acquire);
    if (type == nullptr) {
        const ClassDef &def = *kClasses[index];
        type = reinterpret_cast<PyTypeObject *>(type_from_spec(def.spec));
        if (type != nullptr && bind_class_methods(type) < 0) Py_CLEAR(type);
        if (type != nullptr && def.finish != nullptr && def.finish(type) < 0) Py_CLEAR(type);
        // The cache keeps this reference for the life of the process.
        if (type != nullptr) g_class_cache[index].store(type, std::memory_order_release);
    }
    PyMutex_Unlock(&g_build_lock);
    return type;
}

#ifdef MERANDOL_FREE_LISTS
FreeList g_free_lists[kFreeListSizes];
#endif

PyObject *instance_alloc_slow(PyTypeObject *type) noexcept {
    void *memory = PyObject_Malloc(static_cast<std::size_t>(type->tp_basicsize));
    if (MERANDOL_UNLIKELY(memory == nullptr)) return PyErr_NoMemory();
    return PyObject_Init(static_cast<PyObject *>(memory), type);
}

PyObject *allocate_instance(PyTypeObject *type, Py_ssize_t size) noexcept { return instance_alloc_sized(type, size); }

// --- Errors ----------------------------------------------------------------

static std::atomic<PyObject *> g_panic_exception;

PyObject *panic(const char *message) {
    PyObject *cls = g_panic_exception.load(std::memory_order_acquire);
    if (cls == nullptr) {
        PyMutex_Lock(&g_build_lock);
        cls = g_panic_exception.load(std::memory_order_acquire);
        if (cls == nullptr) {
            cls = PyErr_NewExceptionWithDoc("merandol.PanicException", "An internal invariant of merandol was broken.",
                                            PyExc_BaseException, nullptr);
            if (cls != nullptr) g_panic_exception.store(cls, std::memory_order_release);
        }
        PyMutex_Unlock(&g_build_lock);
        if (cls == nullptr) return nullptr;
    }
    PyErr_SetString(cls, message);
    return nullptr;
}

// --- Module ----------------------------------------------------------------

static int module_exec(PyObject *module) {
    if (!PyModule_Check(module)) {
        PyObject *qualname = PyType_GetQualName(Py_TYPE(module));
        if (qualname != nullptr) {
            PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of 'module'", qualname);
            Py_DECREF(qualname);
        }
        return -1;
    }
    for (unsigned index = 0; index < kClassCount; ++index) {
        PyTypeObject *type = class_object(static_cast<ClassId>(index));
        if (type == nullptr) return -1;
        PyObject *all;
        const int found = PyObject_GetOptionalAttrString(module, "__all__", &all);
        if (found < 0) return -1;
        if (found == 0) {
            all = PyList_New(0);
            if (all == nullptr) return -1;
            if (PyModule_AddObjectRef(module, "__all__", all) < 0) {
                Py_DECREF(all);
                return -1;
            }
        } else if (!PyList_Check(all)) {
            Py_DECREF(all);
            PyErr_SetString(PyExc_TypeError, "module attribute '__all__' is not a list");
            return -1;
        }
        const char *name = kClassNames[index];
        PyObject *text = PyUnicode_FromString(name);
        const int appended = text ? PyList_Append(all, text) : -1;
        Py_XDECREF(text);
        Py_DECREF(all);
        if (appended < 0 || PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject *>(type)) < 0) return -1;
    }
    return 0;
}

static PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void *>(module_exec)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

static PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "merandol",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = module_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace merandol::py

PyMODINIT_FUNC PyInit_merandol(void) { return PyModuleDef_Init(&merandol::py::module_def); }
