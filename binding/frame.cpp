#include "binding/frame.hpp"

#include <cstdarg>

namespace merandol::py {

// --- Argument binding ------------------------------------------------------

static const char *was_or_were(Py_ssize_t k) { return k == 1 ? "was" : "were"; }

static bool too_many_positional(const Params &p, Py_ssize_t k) {
    if (p.required == p.positional)
        PyErr_Format(PyExc_TypeError, "%s takes %d positional %s but %zd %s given", p.fn, p.positional,
                     p.positional == 1 && p.counts_as_interpreter ? "argument" : "arguments", k, was_or_were(k));
    else
        PyErr_Format(PyExc_TypeError, "%s takes from %d to %d positional arguments but %zd %s given", p.fn, p.required,
                     p.positional, k, was_or_were(k));
    return false;
}

// Places one keyword argument; `name` is a str.
static bool bind_keyword(const Params &p, PyObject *name, PyObject *value, PyObject **out) {
    // Keywords are nearly always ASCII identifiers, whose bytes are at hand.
    Py_ssize_t size;
    const char *utf8;
    if (PyUnicode_Check(name) && PyUnicode_IS_COMPACT_ASCII(name)) {
        utf8 = static_cast<const char *>(PyUnicode_DATA(name));
        size = PyUnicode_GET_LENGTH(name);
    } else {
        utf8 = PyUnicode_AsUTF8AndSize(name, &size);
        if (utf8 == nullptr) PyErr_Clear();  // not encodable: matches no parameter
    }
    for (int i = 0; utf8 != nullptr && i < p.count; ++i) {
        if (p.name_sizes[i] != size || std::memcmp(p.names[i], utf8, static_cast<std::size_t>(size)) != 0) continue;
        if (i < p.positional_only) {
            PyErr_Format(PyExc_TypeError, "%s got some positional-only arguments passed as keyword arguments: '%s'",
                         p.fn, p.names[i]);
            return false;
        }
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
    if (nargs > p.positional) return too_many_positional(p, nargs);
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
    if (nargs > p.positional) return too_many_positional(p, nargs);
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

void add_note(const char *format, ...) {
    PyObject *exc = PyErr_GetRaisedException();
    if (exc == nullptr) return;
    std::va_list args;
    va_start(args, format);
    PyObject *note = PyUnicode_FromFormatV(format, args);
    va_end(args);
    PyObject *result = note ? PyObject_CallMethod(exc, "add_note", "O", note) : nullptr;
    // A note that cannot be added is dropped; the error itself stands.
    if (result == nullptr) PyErr_Clear();
    Py_XDECREF(result);
    Py_XDECREF(note);
    PyErr_SetRaisedException(exc);
}

void note_argument(const char *name) { add_note("while processing '%s'", name); }

std::optional<std::int64_t> to_i64_slow(PyObject *o) {
    static_assert(sizeof(long) == sizeof(std::int64_t));
    const long v = PyLong_AsLong(o);
    if (v == -1 && PyErr_Occurred()) return std::nullopt;
    return v;
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

// 1 or 0, or -1 with the error set: the names are made on request, and a
// failure to make one (out of memory) is the call's error, not a "no".
static int type_name_is(PyObject *o, const char *a, const char *b) {
    PyObject *name = PyType_GetName(Py_TYPE(o));
    if (name == nullptr) return -1;
    const bool match = PyUnicode_EqualToUTF8(name, a) || PyUnicode_EqualToUTF8(name, b);
    Py_DECREF(name);
    return match;
}

static int is_numpy_bool(PyObject *o) {
    if (const int named = type_name_is(o, "bool_", "bool"); named <= 0) return named;
    PyObject *module = PyType_GetModuleName(Py_TYPE(o));
    if (module == nullptr) return -1;
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
    const int numpy_bool = is_numpy_bool(o);
    if (numpy_bool < 0) {
        note_argument(name);
        return false;
    }
    if (numpy_bool) {
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

// --- Results ---------------------------------------------------------------

PyObject *int_from(i128 v) {
    if (v >= INT64_MIN && v <= INT64_MAX) return PyLong_FromLongLong(static_cast<long long>(v));
    return PyLong_FromNativeBytes(&v, sizeof v, Py_ASNATIVEBYTES_LITTLE_ENDIAN);
}

// --- Classes ---------------------------------------------------------------

// The interpreter's specialised call of a built-in function checks that its
// flags are exactly METH_FASTCALL | METH_KEYWORDS; METH_CLASS, which only
// the descriptor needs, would fail that check on every call and send it down
// the generic call path.  Each bound function therefore gets a copy of its
// entry without METH_CLASS, kept for the life of the process as the class is.
static constexpr unsigned kBoundMethodCapacity = 32;  // the extensions' classes have 15 and 6
static PyMethodDef g_bound_methods[kBoundMethodCapacity];
static unsigned g_bound_method_count;
static PyMutex g_bound_methods_lock;

static int bind_class_methods_locked(PyTypeObject *type) {
    for (PyMethodDef *def = type->tp_methods; def != nullptr && def->ml_name != nullptr; ++def) {
        if (!(def->ml_flags & METH_CLASS)) continue;
        if (g_bound_method_count == kBoundMethodCapacity) {
            PyErr_SetString(PyExc_SystemError, "merandol: too many class methods");
            return -1;
        }
        PyMethodDef *copy = &g_bound_methods[g_bound_method_count++];
        *copy = *def;
        copy->ml_flags &= ~METH_CLASS;
        PyObject *bound = PyCMethod_New(copy, reinterpret_cast<PyObject *>(type), nullptr, nullptr);
        if (bound == nullptr) return -1;
        const int stored = PyObject_SetAttrString(reinterpret_cast<PyObject *>(type), def->ml_name, bound);
        Py_DECREF(bound);
        if (stored < 0) return -1;
    }
    return 0;
}

int bind_class_methods(PyTypeObject *type) {
    if (PyType_HasFeature(type, Py_TPFLAGS_BASETYPE)) {
        PyErr_Format(PyExc_SystemError, "merandol: %s can be subclassed, so its class methods stay descriptors",
                     type->tp_name);
        return -1;
    }
    PyMutex_Lock(&g_bound_methods_lock);
    const int result = bind_class_methods_locked(type);
    PyMutex_Unlock(&g_bound_methods_lock);
    return result;
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

}  // namespace merandol::py
