#include "module/frame.hpp"

namespace merandol::py {

// --- Classes ---------------------------------------------------------------

static const ClassDef *const kClasses[kClassCount] = {
    &kWeekdayClass, &kDateClass, &kTimeClass, &kDurationClass, &kDateTimeClass, &kUtcOffsetClass, &kOffsetDateTimeClass,
};

std::atomic<PyTypeObject *> g_class_cache[kClassCount];

// Builds are serialised by one process-wide lock, so every class (and its
// finish step) runs exactly once; readers load the published pointer
// without locking.  PyMutex detaches the waiting thread from the
// interpreter, so a thread blocked here never holds up the GIL or a
// stop-the-world pause.
static PyMutex g_build_lock;

// Class methods are stored on the class already bound to it, as built-in
// methods whose self is the class: exactly what looking up a class-method
// descriptor would produce on every access.  The interpreter can then
// specialise `Date.parse` as a plain class attribute load, with no bound
// method made and freed per call.  Calls through an instance see the same
// object, as they would through the descriptor.
static int bind_class_methods(PyTypeObject *type) {
    for (PyMethodDef *def = type->tp_methods; def != nullptr && def->ml_name != nullptr; ++def) {
        if (!(def->ml_flags & METH_CLASS)) continue;
        PyObject *bound = PyCMethod_New(def, reinterpret_cast<PyObject *>(type), nullptr, nullptr);
        if (bound == nullptr) return -1;
        const int stored = PyObject_SetAttrString(reinterpret_cast<PyObject *>(type), def->ml_name, bound);
        Py_DECREF(bound);
        if (stored < 0) return -1;
    }
    return 0;
}

PyTypeObject *build_class(ClassId id) {
    const unsigned index = static_cast<unsigned>(id);
    PyMutex_Lock(&g_build_lock);
    PyTypeObject *type = g_class_cache[index].load(std::memory_order_acquire);
    if (type == nullptr) {
        const ClassDef &def = *kClasses[index];
        type = reinterpret_cast<PyTypeObject *>(PyType_FromSpec(def.spec));
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

PyObject *instance_alloc_slow(PyTypeObject *type) {
    void *memory = PyObject_Malloc(static_cast<std::size_t>(type->tp_basicsize));
    if (MERANDOL_UNLIKELY(memory == nullptr)) return PyErr_NoMemory();
    return PyObject_Init(static_cast<PyObject *>(memory), type);
}

void instance_dealloc(PyObject *self) {
    PyTypeObject *type = Py_TYPE(self);
#ifdef MERANDOL_FREE_LISTS
    if (FreeList *list = free_list_for(type->tp_basicsize); list != nullptr && list->count < FreeList::kCapacity) {
        list->items[list->count++] = self;
        Py_DECREF(type);
        return;
    }
#endif
    type->tp_free(self);
    Py_DECREF(type);
}

// --- Argument binding ------------------------------------------------------

static const char *was_or_were(Py_ssize_t k) { return k == 1 ? "was" : "were"; }

static bool too_many_positional(const Params &p, Py_ssize_t k) {
    if (p.required == p.count)
        PyErr_Format(PyExc_TypeError, "%s takes %d positional arguments but %zd %s given", p.fn, p.count, k,
                     was_or_were(k));
    else
        PyErr_Format(PyExc_TypeError, "%s takes from %d to %d positional arguments but %zd %s given", p.fn, p.required,
                     p.count, k, was_or_were(k));
    return false;
}

// Places one keyword argument; `name` is a str.
static bool bind_keyword(const Params &p, PyObject *name, PyObject *value, PyObject **out) {
    Py_ssize_t size;
    const char *utf8 = PyUnicode_AsUTF8AndSize(name, &size);
    if (utf8 == nullptr) PyErr_Clear();  // not encodable: matches no parameter
    for (int i = 0; utf8 != nullptr && i < p.count; ++i) {
        if (std::strlen(p.names[i]) != static_cast<std::size_t>(size) || std::memcmp(p.names[i], utf8, size) != 0)
            continue;
        if (out[i] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", p.fn, p.names[i]);
            return false;
        }
        out[i] = value;
        return true;
    }
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", p.fn, name);
    return false;
}

// Reports the required parameters still empty: 'a' / 'a' and 'b' /
// 'a', 'b', and 'c'.
static bool check_required(const Params &p, PyObject *const *out) {
    int missing = 0;
    for (int i = 0; i < p.required; ++i) missing += out[i] == nullptr;
    if (missing == 0) return true;
    char list[512];
    std::size_t len = 0;
    int seen = 0;
    for (int i = 0; i < p.required; ++i) {
        if (out[i] != nullptr) continue;
        const char *sep = seen == 0 ? "" : missing == 2 ? " and " : seen == missing - 1 ? ", and " : ", ";
        const std::size_t sep_len = std::strlen(sep), name_len = std::strlen(p.names[i]);
        if (len + sep_len + name_len + 3 > sizeof list) break;  // names are short; never reached
        std::memcpy(list + len, sep, sep_len);
        len += sep_len;
        list[len++] = '\'';
        std::memcpy(list + len, p.names[i], name_len);
        len += name_len;
        list[len++] = '\'';
        ++seen;
    }
    list[len] = '\0';
    PyErr_Format(PyExc_TypeError, "%s missing %d required positional %s: %s", p.fn, missing,
                 missing == 1 ? "argument" : "arguments", list);
    return false;
}

bool bind_slow(const Params &p, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, PyObject **out) {
    if (nargs > p.count) return too_many_positional(p, nargs);
    for (int i = 0; i < p.count; ++i) out[i] = i < nargs ? args[i] : nullptr;
    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k)
            if (!bind_keyword(p, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], out)) return false;
    }
    return check_required(p, out);
}

bool bind_tuple(const Params &p, PyObject *args, PyObject *kwargs, PyObject **out) {
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    if (nargs > p.count) return too_many_positional(p, nargs);
    for (int i = 0; i < p.count; ++i) out[i] = i < nargs ? PyTuple_GET_ITEM(args, i) : nullptr;
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *name, *value;
        while (PyDict_Next(kwargs, &pos, &name, &value))
            if (!bind_keyword(p, name, value, out)) return false;
    }
    return check_required(p, out);
}

// --- Argument conversion ---------------------------------------------------

void note_argument(const char *name) {
    PyObject *exc = PyErr_GetRaisedException();
    if (exc == nullptr) return;
    PyObject *note = PyUnicode_FromFormat("while processing '%s'", name);
    PyObject *result = note ? PyObject_CallMethod(exc, "add_note", "O", note) : nullptr;
    // A note that cannot be added is dropped; the conversion's error stands.
    if (result == nullptr) PyErr_Clear();
    Py_XDECREF(result);
    Py_XDECREF(note);
    PyErr_SetRaisedException(exc);
}

bool to_i64_slow(PyObject *o, std::int64_t &out) {
    static_assert(sizeof(long) == sizeof(std::int64_t));
    const long v = PyLong_AsLong(o);
    if (v == -1 && PyErr_Occurred()) return false;
    out = v;
    return true;
}

bool range_error(std::int64_t v, std::int64_t lo, const char *name) {
    PyErr_SetString(PyExc_OverflowError,
                    v < lo ? "number too small to fit in target type" : "number too large to fit in target type");
    note_argument(name);
    return false;
}

bool to_i128(PyObject *o, i128 &out, const char *name) {
    if (PyLong_CheckExact(o) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject *>(o))) {
        out = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject *>(o));
        return true;
    }
    PyObject *index = PyNumber_Index(o);
    if (index == nullptr) {
        note_argument(name);
        return false;
    }
    const Py_ssize_t needed = PyLong_AsNativeBytes(index, &out, sizeof out, Py_ASNATIVEBYTES_LITTLE_ENDIAN);
    Py_DECREF(index);
    if (needed < 0) {
        note_argument(name);
        return false;
    }
    if (static_cast<std::size_t>(needed) > sizeof out) {
        PyErr_SetString(PyExc_OverflowError, "Python int larger than 128 bits");
        note_argument(name);
        return false;
    }
    return true;
}

static bool type_name_is(PyObject *o, const char *a, const char *b) {
    PyObject *name = PyType_GetName(Py_TYPE(o));
    if (name == nullptr) return PyErr_Clear(), false;
    const bool match = PyUnicode_EqualToUTF8(name, a) || PyUnicode_EqualToUTF8(name, b);
    Py_DECREF(name);
    return match;
}

static bool is_numpy_bool(PyObject *o) {
    if (!type_name_is(o, "bool_", "bool")) return false;
    PyObject *module = PyType_GetModuleName(Py_TYPE(o));
    if (module == nullptr) return PyErr_Clear(), false;
    const bool match = PyUnicode_Check(module) && PyUnicode_EqualToUTF8(module, "numpy");
    Py_DECREF(module);
    return match;
}

// TypeError "'{type}' object is not an instance of '{target}'".
static bool wrong_type(PyObject *o, const char *target, const char *name) {
    PyObject *qualname = PyType_GetQualName(Py_TYPE(o));
    if (qualname != nullptr) {
        PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", qualname, target);
        Py_DECREF(qualname);
    }
    note_argument(name);
    return false;
}

bool to_bool(PyObject *o, bool &out, const char *name) {
    if (o == Py_True || o == Py_False) {
        out = o == Py_True;
        return true;
    }
    if (is_numpy_bool(o)) {
        inquiry truth = Py_TYPE(o)->tp_as_number ? Py_TYPE(o)->tp_as_number->nb_bool : nullptr;
        const int v = truth ? truth(o) : PyObject_IsTrue(o);
        if (v < 0) {
            note_argument(name);
            return false;
        }
        out = v != 0;
        return true;
    }
    return wrong_type(o, "bool", name);
}

bool to_text_slow(PyObject *o, std::string_view &out, const char *name) {
    if (MERANDOL_UNLIKELY(!PyUnicode_Check(o))) return wrong_type(o, "str", name);
    Py_ssize_t size;
    const char *utf8 = PyUnicode_AsUTF8AndSize(o, &size);
    if (MERANDOL_UNLIKELY(utf8 == nullptr)) {
        note_argument(name);
        return false;
    }
    out = std::string_view(utf8, static_cast<std::size_t>(size));
    return true;
}

bool not_an_instance(PyObject *o, PyTypeObject *type, const char *name) {
    if (type == nullptr) return false;
    PyObject *target = PyType_GetQualName(type);
    if (target == nullptr) return false;
    if (o == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%U'", target);
        note_argument(name);
    } else {
        wrong_type(o, PyUnicode_AsUTF8(target), name);
    }
    Py_DECREF(target);
    return false;
}

// --- Errors ----------------------------------------------------------------

PyObject *value_error(const char *prefix, std::string_view kind) {
    PyErr_Format(PyExc_ValueError, "%s%.*s", prefix, static_cast<int>(kind.size()), kind.data());
    return nullptr;
}

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

// --- Results ---------------------------------------------------------------

PyObject *int_from(i128 v) {
    if (v >= INT64_MIN && v <= INT64_MAX) return PyLong_FromLongLong(static_cast<long long>(v));
    return PyLong_FromNativeBytes(&v, sizeof v, Py_ASNATIVEBYTES_LITTLE_ENDIAN);
}

// --- Pickling --------------------------------------------------------------

PyObject *reduce_value(PyTypeObject *type, const char *factory, PyObject *args) {
    if (args == nullptr || type == nullptr) {
        Py_XDECREF(args);
        return nullptr;
    }
    PyObject *callable = factory ? PyObject_GetAttrString(reinterpret_cast<PyObject *>(type), factory)
                                 : Py_NewRef(reinterpret_cast<PyObject *>(type));
    if (callable == nullptr) {
        Py_DECREF(args);
        return nullptr;
    }
    return Py_BuildValue("(NN)", callable, args);
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
        const char *name = kClasses[index]->name;
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
