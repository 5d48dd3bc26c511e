// What the column units share: numpy, looked up when a numpy function is
// first called, the arrays made and read through the buffer protocol (the
// project builds without numpy's headers), and the notes that name the
// index of a failing element.
#pragma once

#include "interop/interop.hpp"

namespace merandol::py::columns {

// The numpy callables the columns use, found once for the life of the
// process; nullptr with the error set when numpy cannot be imported.
struct Numpy {
    PyObject *empty;          // numpy.empty
    PyObject *datetime_data;  // numpy.datetime_data
    PyTypeObject *ndarray;    // numpy.ndarray
};
const Numpy *numpy();

// A new one-dimensional int64 array of `n` elements and a writable view of
// its buffer; release the view with PyBuffer_Release.
PyObject *new_int64_array(const Numpy &np, Py_ssize_t n, Py_buffer &view);

// The same memory as `array`, seen as `dtype` (for example
// "datetime64[ns]").  Takes the reference to `array`.
PyObject *view_as(PyObject *array, const char *dtype);

// How the conversion of one element ended.
enum class Outcome : std::uint8_t { Ok, Unreadable, OutOfRange, Remainder };

// Adds "at index {index}" to the pending exception.
void note_index(Py_ssize_t index);

}  // namespace merandol::py::columns
