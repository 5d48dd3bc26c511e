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

// Columns: parse_many(cls, texts) and parse_to_numpy(texts, unit="ns")
// (columns.cpp); to_numpy(values, unit=None), from_numpy(array) and
// format_numpy(array, offset=None) (numpy.cpp).
PyObject *interop_parse_many(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);
PyObject *interop_parse_to_numpy(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);
PyObject *interop_to_numpy(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);
PyObject *interop_from_numpy(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);
PyObject *interop_format_numpy(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);
extern const char kParseManyDoc[];
extern const char kParseToNumpyDoc[];
extern const char kToNumpyDoc[];
extern const char kFromNumpyDoc[];
extern const char kFormatNumpyDoc[];

}  // namespace merandol::py
