"""The Arrow C Data Interface in ctypes, for tests that need no Arrow
library: a producer of string columns (utf8, large_utf8, string_view; with
offsets, nulls, chunks, a table of one column) that can be told to lie about
its structs, and a reader of the arrays an ArrowColumn exports."""

import ctypes
import struct
import threading
from ctypes import POINTER, c_char_p, c_int, c_int64, c_void_p

FORMATS = {"utf8": b"u", "large_utf8": b"U", "string_view": b"vu"}


class ArrowSchema(ctypes.Structure):
    pass


class ArrowArray(ctypes.Structure):
    pass


class ArrowArrayStream(ctypes.Structure):
    pass


SchemaRelease = ctypes.CFUNCTYPE(None, POINTER(ArrowSchema))
ArrayRelease = ctypes.CFUNCTYPE(None, POINTER(ArrowArray))
GetSchema = ctypes.CFUNCTYPE(c_int, POINTER(ArrowArrayStream), POINTER(ArrowSchema))
GetNext = ctypes.CFUNCTYPE(c_int, POINTER(ArrowArrayStream), POINTER(ArrowArray))
GetLastError = ctypes.CFUNCTYPE(c_void_p, POINTER(ArrowArrayStream))
_BROKE_DOWN = ctypes.create_string_buffer(b"the producer broke down")
StreamRelease = ctypes.CFUNCTYPE(None, POINTER(ArrowArrayStream))

ArrowSchema._fields_ = [
    ("format", c_char_p),
    ("name", c_char_p),
    ("metadata", c_char_p),
    ("flags", c_int64),
    ("n_children", c_int64),
    ("children", POINTER(POINTER(ArrowSchema))),
    ("dictionary", POINTER(ArrowSchema)),
    ("release", SchemaRelease),
    ("private_data", c_void_p),
]
ArrowArray._fields_ = [
    ("length", c_int64),
    ("null_count", c_int64),
    ("offset", c_int64),
    ("n_buffers", c_int64),
    ("n_children", c_int64),
    ("buffers", POINTER(c_void_p)),
    ("children", POINTER(POINTER(ArrowArray))),
    ("dictionary", POINTER(ArrowArray)),
    ("release", ArrayRelease),
    ("private_data", c_void_p),
]
ArrowArrayStream._fields_ = [
    ("get_schema", GetSchema),
    ("get_next", GetNext),
    ("get_last_error", GetLastError),
    ("release", StreamRelease),
    ("private_data", c_void_p),
]

_api = ctypes.pythonapi
_api.PyCapsule_New.restype = ctypes.py_object
_api.PyCapsule_New.argtypes = [c_void_p, c_char_p, c_void_p]
_api.PyCapsule_GetPointer.restype = c_void_p
_api.PyCapsule_GetPointer.argtypes = [ctypes.py_object, c_char_p]
_NAMES = {n: ctypes.create_string_buffer(n) for n in (b"arrow_schema", b"arrow_array", b"arrow_array_stream")}
# Whatever a struct handed out needs, under the key in its private_data,
# kept until its release runs; and the structs that capsules point to.
_alive: dict[int, object] = {}
_capsuled: dict[int, object] = {}
# The thread tests make structs from several threads at once, and a range's
# iterator is not thread-safe on the free-threaded interpreter (two threads
# could take one key).
_keys = iter(range(1, 2**62))
_keys_lock = threading.Lock()


def _hold(keep):
    with _keys_lock:
        key = next(_keys)
    _alive[key] = keep
    return key


def _destructor(kind, name):
    @ctypes.CFUNCTYPE(None, c_void_p)
    def destroy(capsule):
        pointer = _api.PyCapsule_GetPointer(ctypes.cast(capsule, ctypes.py_object), name)
        s = kind.from_address(pointer)
        if s.release:
            s.release(ctypes.pointer(s))
        _capsuled.pop(pointer, None)

    return destroy


_DESTRUCTORS = {
    b"arrow_schema": _destructor(ArrowSchema, b"arrow_schema"),
    b"arrow_array": _destructor(ArrowArray, b"arrow_array"),
    b"arrow_array_stream": _destructor(ArrowArrayStream, b"arrow_array_stream"),
}


def capsule(s, name):
    """A capsule owning struct s (kept alive until its destructor runs)."""
    _capsuled[ctypes.addressof(s)] = s
    destructor = ctypes.cast(_DESTRUCTORS[name], c_void_p)
    return _api.PyCapsule_New(ctypes.addressof(s), _NAMES[name], destructor)


def struct_of(cap, kind, name):
    return kind.from_address(_api.PyCapsule_GetPointer(cap, name))


@SchemaRelease
def _release_schema(schema):
    _alive.pop(schema.contents.private_data, None)
    schema.contents.release = SchemaRelease()


@ArrayRelease
def _release_array(array):
    _alive.pop(array.contents.private_data, None)
    array.contents.release = ArrayRelease()


def _schema(fmt, in_table, lie=None):
    s = ArrowSchema(format=fmt, name=b"texts", flags=2, release=_release_schema)
    if in_table:
        child = _schema(b"l" if lie == "int64 column" else fmt, False)
        width = 2 if lie == "two columns" else 1
        children = (POINTER(ArrowSchema) * width)(*[ctypes.pointer(child)] * width)
        s = ArrowSchema(format=b"+s", name=b"", n_children=width, children=children, release=_release_schema)
        s.private_data = _hold((child, children))
    return s


def _string_array(texts, layout, offset, lie):
    """An array of texts (None for null) after `offset` rows of padding."""
    rows = ["pad"] * offset + list(texts)
    encoded = [(t or "").encode() for t in rows]
    validity = bytearray((len(rows) + 7) // 8)
    for i, t in enumerate(rows):
        if t is not None:
            validity[i >> 3] |= 1 << (i & 7)
    keep = [bytes(validity)]
    nulls = sum(t is None for t in texts)
    if layout == "string_view":
        data = b"".join(encoded)
        views, start = b"", 0
        for t in encoded:
            if len(t) <= 12:
                views += struct.pack("<i12s", len(t), t)
            else:
                views += struct.pack("<i4sii", len(t), t[:4], 0, start)
            start += len(t)
        sizes = struct.pack("<q", len(data))
        if lie == "view range":
            views = views[:-4] + struct.pack("<i", len(data))
        keep += [views, data, sizes]
    else:
        bounds, start = [0], 0
        for t in encoded:
            start += len(t)
            bounds.append(start)
        if lie == "decreasing offsets" and len(bounds) > 2:
            bounds[-2] = bounds[-1] + 5
        fmt = "<%di" if layout == "utf8" else "<%dq"
        keep += [struct.pack(fmt % len(bounds), *bounds), b"".join(encoded)]
    buffers = (c_void_p * len(keep))(*[ctypes.cast(ctypes.c_char_p(b), c_void_p) for b in keep])
    if lie == "missing buffer":
        buffers[1] = None
    array = ArrowArray(
        length=len(texts) if lie != "negative length" else -1,
        null_count=nulls,
        offset=offset if lie != "negative offset" else -3,
        n_buffers=len(keep),
        buffers=buffers,
        release=_release_array,
    )
    array.private_data = _hold((keep, buffers))
    return array


_NULL_ROWS = ctypes.create_string_buffer(b"\x00" * 8)


def _table_array(child, length, lie=None):
    """A table of one column; the column is released with it."""
    children = (POINTER(ArrowArray) * 1)(ctypes.pointer(child))
    buffers = (c_void_p * 1)()
    if lie == "null rows":
        buffers[0] = ctypes.addressof(_NULL_ROWS)
    key = _hold((child, children, buffers))
    return ArrowArray(
        length=length,
        null_count=length if lie == "null rows" else 0,
        n_buffers=1,
        n_children=0 if lie == "no column" else 1,
        buffers=buffers,
        children=children,
        release=_release_table,
        private_data=key,
    )


@ArrayRelease
def _release_table(array):
    child, _, _ = _alive.pop(array.contents.private_data)
    _alive.pop(child.private_data, None)
    array.contents.release = ArrayRelease()


class Producer:
    """An Arrow string column in chunks of texts (None for null), exported
    as an array (one chunk) or a stream; `lie` names one fault to declare,
    "get_next" making the stream fail after its first chunk (with its error
    text, or without one for "get_next silently")."""

    def __init__(self, chunks, layout="utf8", offset=0, table=False, lie=None):
        self.chunks, self.layout, self.offset, self.table, self.lie = chunks, layout, offset, table, lie

    def _array(self, texts):
        array = _string_array(texts, self.layout, self.offset, self.lie)
        return _table_array(array, len(texts), self.lie) if self.table else array

    def _fmt(self):
        return None if self.lie == "no format" else FORMATS.get(self.layout, self.layout.encode())

    def __arrow_c_array__(self, requested_schema=None):
        (texts,) = self.chunks
        schema = capsule(_schema(self._fmt(), self.table, self.lie), b"arrow_schema")
        if self.lie == "not a pair":
            return schema
        return schema, capsule(self._array(texts), b"arrow_array")

    def __arrow_c_stream__(self, requested_schema=None):
        chunks = iter(self.chunks)
        given = [0]

        @GetSchema
        def get_schema(stream, out):
            s = _schema(self._fmt(), self.table, self.lie)
            ctypes.memmove(out, ctypes.addressof(s), ctypes.sizeof(s))
            return 0

        @GetNext
        def get_next(stream, out):
            if self.lie in ("get_next", "get_next silently") and given[0] == 1:
                return 5  # EIO
            given[0] += 1
            texts = next(chunks, None)
            if texts is None:
                ctypes.memset(out, 0, ctypes.sizeof(ArrowArray))
                return 0
            a = self._array(texts)
            ctypes.memmove(out, ctypes.addressof(a), ctypes.sizeof(a))
            return 0

        @GetLastError
        def get_last_error(stream):
            return ctypes.addressof(_BROKE_DOWN) if self.lie == "get_next" else None

        s = ArrowArrayStream(
            get_schema, GetNext() if self.lie == "no calls" else get_next, get_last_error, _release_stream
        )
        s.private_data = _hold((get_schema, get_next, get_last_error, chunks))
        return capsule(s, b"arrow_array_stream")


class ArrayProducer(Producer):
    """One chunk, exported only as an array."""

    __arrow_c_stream__ = None


@StreamRelease
def _release_stream(stream):
    _alive.pop(stream.contents.private_data, None)
    stream.contents.release = StreamRelease()


def read_column(column):
    """(format, values with None for null) of what column.__arrow_c_array__ exports."""
    schema_capsule, array_capsule = column.__arrow_c_array__()
    schema = struct_of(schema_capsule, ArrowSchema, b"arrow_schema")
    array = struct_of(array_capsule, ArrowArray, b"arrow_array")
    fmt = schema.format.decode()
    n = array.length
    validity = array.buffers[0]
    valid = [
        validity is None or ctypes.c_uint8.from_address(validity + (i >> 3)).value >> (i & 7) & 1 for i in range(n)
    ]
    if fmt.startswith("t"):
        # date32 and time32 hold 4 bytes a value, timestamps and time64 8.
        width = ctypes.c_int32 if fmt in ("tdD", "tts", "ttm") else c_int64
        values = (width * n).from_address(array.buffers[1])[:] if n else []
    else:
        offsets = (ctypes.c_int32 * (n + 1)).from_address(array.buffers[1])[:]
        values = [
            ctypes.string_at(array.buffers[2] + offsets[i], offsets[i + 1] - offsets[i]).decode() for i in range(n)
        ]
    return fmt, [v if ok else None for v, ok in zip(values, valid, strict=True)]


def read_stream(column):
    """(format, [values of each array]) of what column.__arrow_c_stream__ exports."""
    stream_capsule = column.__arrow_c_stream__()
    stream = struct_of(stream_capsule, ArrowArrayStream, b"arrow_array_stream")
    schema, chunks = ArrowSchema(), []
    assert stream.get_schema(ctypes.pointer(stream), ctypes.pointer(schema)) == 0
    fmt = schema.format.decode()
    schema.release(ctypes.pointer(schema))
    while True:
        array = ArrowArray()
        assert stream.get_next(ctypes.pointer(stream), ctypes.pointer(array)) == 0
        if not array.release:
            return fmt, chunks
        chunks.append((c_int64 * array.length).from_address(array.buffers[1])[:] if array.length else [])
        array.release(ctypes.pointer(array))
