// The column units' shared base: numpy, found on first use; the unit table's
// lookups; and the messages that name a failing element's place.
#include "interop/columns/columns.hpp"

namespace merandol::py {

using namespace columns;

// --- numpy --------------------------------------------------------------------

static PyMutex g_numpy_lock;
static Numpy g_numpy_storage;
static std::atomic<const Numpy *> g_numpy;

// Found under the lock, so that one set of references is kept for the life
// of the process.
const Numpy *columns::numpy(const char *fn) {
    if (const Numpy *np = g_numpy.load(std::memory_order_acquire)) return np;
    PyMutex_Lock(&g_numpy_lock);
    const Numpy *np = g_numpy.load(std::memory_order_acquire);
    if (np == nullptr) {
        PyObject *module = PyImport_ImportModule("numpy");
        PyObject *empty = module ? PyObject_GetAttrString(module, "empty") : nullptr;
        PyObject *asarray = empty ? PyObject_GetAttrString(module, "asarray") : nullptr;
        PyObject *datetime_data = asarray ? PyObject_GetAttrString(module, "datetime_data") : nullptr;
        PyObject *ndarray = datetime_data ? PyObject_GetAttrString(module, "ndarray") : nullptr;
        Py_XDECREF(module);
        if (ndarray != nullptr && PyType_Check(ndarray)) {
            g_numpy_storage = {empty, asarray, datetime_data, reinterpret_cast<PyTypeObject *>(ndarray)};
            np = &g_numpy_storage;
            g_numpy.store(np, std::memory_order_release);
        } else {
            if (ndarray != nullptr) PyErr_SetString(PyExc_ImportError, "numpy.ndarray is not a type");
            if (module == nullptr && PyErr_ExceptionMatches(PyExc_ModuleNotFoundError)) {
                PyErr_Clear();
                PyErr_Format(PyExc_ModuleNotFoundError,
                             "%s needs numpy, which is not installed; pip install 'merandol[numpy]' brings it", fn);
            }
            Py_XDECREF(empty);
            Py_XDECREF(asarray);
            Py_XDECREF(datetime_data);
            Py_XDECREF(ndarray);
        }
    }
    PyMutex_Unlock(&g_numpy_lock);
    return np;
}

const Numpy *columns::numpy_if_imported(const char *fn) {
    if (const Numpy *np = g_numpy.load(std::memory_order_acquire)) return np;
    PyObject *name = PyUnicode_FromString("numpy");
    PyObject *module = name ? PyImport_GetModule(name) : nullptr;
    Py_XDECREF(name);
    if (module == nullptr) return nullptr;
    Py_DECREF(module);
    return numpy(fn);
}

PyObject *columns::new_int64_array(const Numpy &np, Py_ssize_t n, Py_buffer &view) {
    PyObject *array = PyObject_CallFunction(np.empty, "ns", n, "int64");
    if (array == nullptr) return nullptr;
    if (PyObject_GetBuffer(array, &view, PyBUF_WRITABLE) < 0) {
        Py_DECREF(array);
        return nullptr;
    }
    return array;
}

PyObject *columns::view_as(PyObject *array, const char *dtype) {
    PyObject *view = PyObject_CallMethod(array, "view", "s", dtype);
    Py_DECREF(array);
    return view;
}

// --- Units --------------------------------------------------------------------

bool columns::find_unit(std::string_view name, Unit &out) noexcept {
    for (std::size_t i = 0; i < std::size(kUnits); ++i)
        if (std::string_view(kUnits[i].name) == name) {
            out = static_cast<Unit>(i);
            return true;
        }
    return false;
}

// A timestamp's format is "ts" and the unit's letter, then ":" and its zone.
bool columns::find_arrow_unit(std::string_view format, Unit &out) noexcept {
    const bool timestamp = format.size() >= 4 && format.starts_with("ts") && format[3] == ':';
    for (std::size_t i = 0; i < std::size(kUnits); ++i) {
        const char *own = kUnits[i].arrow_format;
        if (own != nullptr && (format == own || (timestamp && own[0] == 't' && own[1] == 's' && own[2] == format[2]))) {
            out = static_cast<Unit>(i);
            return true;
        }
    }
    return false;
}

PyObject *ColumnUnit::dtype(bool datetime) const {
    const char *kind = datetime ? "datetime64" : "timedelta64";
    if (count == 1) return PyUnicode_FromFormat("%s[%s]", kind, info().name);
    return PyUnicode_FromFormat("%s[%lld%s]", kind, static_cast<long long>(count), info().name);
}

// --- Messages -------------------------------------------------------------------

void columns::note_index(Py_ssize_t index) { add_note("at index %zd", index); }

static void note_place(Place place) {
    if (place.sequence != nullptr)
        add_note("at index %lld", place.index);
    else
        add_note("at row %lld", place.index);
}

bool columns::text_error(PyTypeObject *cls, PyObject *text, Outcome outcome, Place place, const char *target) {
    if (outcome == Outcome::Unreadable) {
        // The reader's own error for the text alone; a column reader that
        // refuses what it reads is a fault of ours.
        if (PyObject *result = PyObject_CallMethod(reinterpret_cast<PyObject *>(cls), "parse", "O", text)) {
            PyErr_Format(PyExc_SystemError, "%R was refused in a column but read alone", text);
            Py_DECREF(result);
        }
        note_place(place);
        return false;
    }
    const char *why = outcome == Outcome::OutOfRange ? "is outside the range of" : "has a fraction of a second that";
    const char *tail = outcome == Outcome::OutOfRange ? "" : " cannot hold";
    if (place.sequence != nullptr)
        PyErr_Format(PyExc_ValueError, "%s[%lld] = %R %s %s%s", place.sequence, place.index, text, why, target, tail);
    else
        PyErr_Format(PyExc_ValueError, "row %lld = %R %s %s%s", place.index, text, why, target, tail);
    return false;
}

bool columns::text_error(PyTypeObject *cls, std::string_view utf8, Outcome outcome, Place place, const char *target) {
    PyObject *text = PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), "strict");
    if (text == nullptr) {
        note_place(place);
        return false;
    }
    text_error(cls, text, outcome, place, target);
    Py_DECREF(text);
    return false;
}

}  // namespace merandol::py
