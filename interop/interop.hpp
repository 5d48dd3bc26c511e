// merandol_interop: conversions between merandol's values and the standard
// datetime types.  Each unit provides its module functions and, where it
// needs one, a step that runs once when the module is executed.
#pragma once

#include "module/frame.hpp"

namespace merandol::py {

// to_stdlib(value, *, truncate=False) and from_stdlib(obj).
PyObject *interop_to_stdlib(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);
PyObject *interop_from_stdlib(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);
extern const char kToStdlibDoc[];
extern const char kFromStdlibDoc[];
int stdlib_exec();

}  // namespace merandol::py
