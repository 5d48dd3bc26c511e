// Time zones of the IANA database: the Zone class, read from the same
// files as the standard zoneinfo (its TZPATH, then the tzdata package) and
// kept in a cache by key, and the module functions around it.  Every answer
// is one of merandol's own values.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "binding/compat.hpp"
#include "core/digits.hpp"
#include "core/zone.hpp"
#include "interop/interop.hpp"
#include "interop/zones/zones.hpp"
#include "module/date.hpp"
#include "module/datetime.hpp"
#include "module/offset.hpp"
#include "module/time.hpp"

namespace merandol::py {

// The largest zone file read: the real ones are 100 bytes to 3 KB, so
// anything past this is not a zone file, whatever its name.
inline constexpr long kMaxZoneFileSize = 1 << 20;

struct ZoneObject {
    PyObject_HEAD
    Zone zone;
    PyObject *key;  // the str it was read under, or nullptr
    // Given as bytes (Zone.from_tzif): its key need not name its rules.
    bool from_bytes;
};

static std::atomic<PyTypeObject *> g_zone_type;
static std::atomic<PyObject *> g_zone_not_found;

// Zones read by Zone(key), by key.  The dict is made once and never
// replaced, and each of its calls here is atomic on its own (under the GIL,
// and by the dict's own lock on the free-threaded build), so no lock of
// ours is needed: a lookup that reads a file does so outside any, and the
// first zone stored for a key wins.
static PyObject *g_cache;  // dict, made at exec

PyTypeObject *zone_type() noexcept { return g_zone_type.load(std::memory_order_acquire); }

bool is_zone(PyObject *o) noexcept { return Py_IS_TYPE(o, zone_type()); }

PyObject *zone_key(PyObject *zone) noexcept { return reinterpret_cast<ZoneObject *>(zone)->key; }

const Zone &zone_of(PyObject *zone) noexcept { return reinterpret_cast<ZoneObject *>(zone)->zone; }

// A new Zone object owning `zone`; takes no reference to `key`'s owner.
static PyObject *zone_wrap(Zone &&zone, PyObject *key, bool from_bytes) {
    PyTypeObject *type = zone_type();
    auto *o = PyObject_New(ZoneObject, type);
    if (o == nullptr) return nullptr;
    new (&o->zone) Zone(std::move(zone));
    o->key = Py_XNewRef(key);
    o->from_bytes = from_bytes;
    return reinterpret_cast<PyObject *>(o);
}

static void zone_dealloc(PyObject *self) {
    auto *o = reinterpret_cast<ZoneObject *>(self);
    PyTypeObject *type = Py_TYPE(self);
    o->zone.~Zone();
    Py_XDECREF(o->key);
    PyObject_Free(self);
    Py_DECREF(type);
}

// ValueError "{source}: {what is wrong}", source the key or "bytes".
static PyObject *damaged(PyObject *key, TzifError error) {
    const std::string_view what = describe(error);
    if (error == TzifError::OutOfMemory) return PyErr_NoMemory();
    if (key == nullptr)
        return PyErr_Format(PyExc_ValueError, "bytes: %.*s", static_cast<int>(what.size()), what.data());
    return PyErr_Format(PyExc_ValueError, "%U: %.*s", key, static_cast<int>(what.size()), what.data());
}

static PyObject *zone_from_bytes(std::span<const std::uint8_t> data, PyObject *key, bool given_as_bytes) {
    auto zone = parse_tzif(data);
    if (!zone) return damaged(key, zone.error());
    return zone_wrap(std::move(*zone), key, given_as_bytes);
}

// --- Finding a key ------------------------------------------------------------

// A key as zoneinfo accepts one: a normalised relative path, so that no key
// reads a file outside the search path.  ValueError otherwise.
static bool check_key(PyObject *key, std::string_view &text) {
    if (!PyUnicode_Check(key)) {
        PyErr_Format(PyExc_TypeError, "a zone key must be a str, not '%T'", key);
        return false;
    }
    if (!to_text(key, text, "key")) return false;
    const char *why = nullptr;
    if (text.empty())
        why = "it is empty";
    else if (text.find('\0') != std::string_view::npos)
        why = "it holds a NUL character";
    else if (text.front() == '/')
        why = "it is an absolute path";
    else
        for (std::size_t start = 0; start <= text.size();) {
            std::size_t end = text.find('/', start);
            if (end == std::string_view::npos) end = text.size();
            const std::string_view part = digits::slice(text, start, end);
            if (part.empty() || part == "." || part == "..") {
                why = "it is not a normalised path below the zone folders";
                break;
            }
            start = end + 1;
        }
    if (why == nullptr) return true;
    PyErr_Format(PyExc_ValueError, "%R is not a valid zone key: %s", key, why);
    return false;
}

enum class FileRead : std::uint8_t { Found, Missing, Folder, Failed };

// The bytes of a file read whole, owned: plain C allocation and plain
// system calls, which the oldest glibc the wheel is made for has (stat and
// the standard library's containers would ask for newer symbol versions).
struct FileBytes {
    std::uint8_t *data = nullptr;
    std::size_t size = 0;

    FileBytes() = default;
    FileBytes(const FileBytes &) = delete;
    FileBytes &operator=(const FileBytes &) = delete;
    ~FileBytes() { std::free(data); }
};

// The bytes of `path`, at most kMaxZoneFileSize of them.  A folder fails to
// read with EISDIR; a FIFO, opened without blocking, reads as empty.
static FileRead read_file(const char *path, FileBytes &out) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == EISDIR ? FileRead::Folder : FileRead::Missing;
    std::free(out.data);
    out.data = static_cast<std::uint8_t *>(std::malloc(kMaxZoneFileSize));
    out.size = 0;
    FileRead result = FileRead::Found;
    if (out.data == nullptr) {
        PyErr_NoMemory();
        result = FileRead::Failed;
    }
    while (result == FileRead::Found) {
        if (out.size == static_cast<std::size_t>(kMaxZoneFileSize)) {
            result = FileRead::Missing;  // too long to be a zone file
            break;
        }
        const ssize_t n = read(fd, out.data + out.size, static_cast<std::size_t>(kMaxZoneFileSize) - out.size);
        if (n == 0) break;
        if (n > 0) {
            out.size += static_cast<std::size_t>(n);
        } else if (errno != EINTR) {
            result = errno == EISDIR ? FileRead::Folder : FileRead::Failed;
        }
    }
    close(fd);
    return result;
}

// The zone's file on the standard library's search path (zoneinfo.TZPATH,
// which honours PYTHONTZPATH and reset_tzpath): found, missing from every
// folder, or a folder itself.
static FileRead read_from_tzpath(PyObject *key, std::string_view key_text, FileBytes &out) {
    PyObject *zoneinfo = PyImport_ImportModule("zoneinfo");
    PyObject *tzpath = zoneinfo ? PyObject_GetAttrString(zoneinfo, "TZPATH") : nullptr;
    Py_XDECREF(zoneinfo);
    PyObject *seq = tzpath ? PySequence_Fast(tzpath, "zoneinfo.TZPATH is not a sequence") : nullptr;
    Py_XDECREF(tzpath);
    if (seq == nullptr) return FileRead::Failed;
    FileRead result = FileRead::Missing;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq) && result != FileRead::Found; ++i) {
        PyObject *folder = PySequence_Fast_ITEMS(seq)[i];
        PyObject *path = PyUnicode_FromFormat("%S/%U", folder, key);
        PyObject *encoded = path ? PyUnicode_EncodeFSDefault(path) : nullptr;
        Py_XDECREF(path);
        if (encoded == nullptr) {
            result = FileRead::Failed;
            break;
        }
        const FileRead read = read_file(PyBytes_AS_STRING(encoded), out);
        Py_DECREF(encoded);
        if (read == FileRead::Failed) {
            if (!PyErr_Occurred()) PyErr_Format(PyExc_OSError, "%U: the zone file could not be read", key);
            result = read;
            break;
        }
        if (read == FileRead::Found || (read == FileRead::Folder && result == FileRead::Missing)) result = read;
    }
    (void)key_text;
    Py_DECREF(seq);
    return result;
}

// The zone's file in the tzdata package, when it is installed: bytes, or
// None when neither the package nor the file is there.
static PyObject *read_from_tzdata(std::string_view key_text) {
    const std::size_t slash = key_text.rfind('/');
    std::string_view folder = slash == std::string_view::npos ? std::string_view{} : digits::slice(key_text, 0, slash);
    const std::string_view name = slash == std::string_view::npos ? key_text : digits::tail(key_text, slash + 1);
    PyObject *package = PyUnicode_FromStringAndSize("tzdata.zoneinfo", 15);
    // Each folder of the key is a subpackage: "America/Argentina/Salta"
    // lives in tzdata.zoneinfo.America.Argentina.
    while (package != nullptr && !folder.empty()) {
        const std::size_t cut = folder.find('/');
        const std::string_view part = cut == std::string_view::npos ? folder : digits::slice(folder, 0, cut);
        PyObject *next = PyUnicode_FromFormat("%U.%.*s", package, static_cast<int>(part.size()), part.data());
        Py_SETREF(package, next);
        folder = cut == std::string_view::npos ? std::string_view{} : digits::tail(folder, cut + 1);
    }
    if (package == nullptr) return nullptr;
    PyObject *resources = PyImport_ImportModule("importlib.resources");
    PyObject *files = resources ? PyObject_CallMethod(resources, "files", "O", package) : nullptr;
    Py_XDECREF(resources);
    Py_DECREF(package);
    PyObject *resource =
        files ? PyObject_CallMethod(files, "joinpath", "s#", name.data(), static_cast<Py_ssize_t>(name.size()))
              : nullptr;
    Py_XDECREF(files);
    PyObject *data = resource ? PyObject_CallMethod(resource, "read_bytes", nullptr) : nullptr;
    Py_XDECREF(resource);
    if (data != nullptr) return data;
    // No such package or file: the key is not there.
    if (PyErr_ExceptionMatches(PyExc_ImportError) || PyErr_ExceptionMatches(PyExc_OSError) ||
        PyErr_ExceptionMatches(PyExc_ValueError)) {
        PyErr_Clear();
        Py_RETURN_NONE;
    }
    return nullptr;
}

static PyObject *not_found(PyObject *key) {
    PyObject *message = PyUnicode_FromFormat("no time zone found for key %R", key);
    if (message == nullptr) return nullptr;
    PyErr_SetObject(g_zone_not_found.load(std::memory_order_acquire), message);
    Py_DECREF(message);
    return nullptr;
}

// A new zone read for `key` from the search path, then tzdata.
static PyObject *load_zone(PyObject *key, std::string_view key_text) {
    FileBytes bytes;
    const FileRead read = read_from_tzpath(key, key_text, bytes);
    if (read == FileRead::Failed) return nullptr;
    if (read == FileRead::Found) return zone_from_bytes({bytes.data, bytes.size}, key, false);
    PyObject *data = read_from_tzdata(key_text);
    if (data == nullptr) return nullptr;
    if (data == Py_None) {
        Py_DECREF(data);
        if (read == FileRead::Folder)
            return PyErr_Format(PyExc_ValueError, "%R is not a valid zone key: it names a folder of zones", key);
        return not_found(key);
    }
    const auto *begin = reinterpret_cast<const std::uint8_t *>(PyBytes_AS_STRING(data));
    PyObject *zone = zone_from_bytes({begin, static_cast<std::size_t>(PyBytes_GET_SIZE(data))}, key, false);
    Py_DECREF(data);
    return zone;
}

PyObject *zone_for_key(PyObject *key) {
    PyObject *zone;
    // A key in the cache was checked when it went in.  Only an exact str is
    // looked up before the check: a subclass's hash and == may be anything.
    if (PyUnicode_CheckExact(key)) {
        const int found = PyDict_GetItemRef(g_cache, key, &zone);
        if (found != 0) return found < 0 ? nullptr : zone;
    }
    std::string_view text;
    if (!check_key(key, text)) return nullptr;
    PyObject *loaded = load_zone(key, text);
    if (loaded == nullptr) return nullptr;
    const int stored = PyDict_SetDefaultRef(g_cache, key, loaded, &zone);
    Py_DECREF(loaded);
    return stored < 0 ? nullptr : zone;
}

// The key a text named last is kept with its zone: texts name one zone in
// runs, and the bytes' comparison spares making a str and looking it up.
// clear_cache() forgets it with the cache.
static PyObject *g_last_key = nullptr;   // an ASCII str, owned
static PyObject *g_last_zone = nullptr;  // the cache's zone for it, owned

// The pair is read and replaced together.  With the GIL (and the one
// interpreter the module allows) the interpreter serialises that; a
// free-threaded build locks it.  A lock and its release are two atomic
// read-modify-writes, each waiting for every store before it to reach the
// cache, on every text read.
#ifdef Py_GIL_DISABLED
static PyMutex g_last_lock;
static void lock_last_key() { PyMutex_Lock(&g_last_lock); }
static void unlock_last_key() { PyMutex_Unlock(&g_last_lock); }
#else
static void lock_last_key() {}
static void unlock_last_key() {}
#endif

static void forget_last_key() {
    lock_last_key();
    PyObject *key = std::exchange(g_last_key, nullptr), *zone = std::exchange(g_last_zone, nullptr);
    unlock_last_key();
    Py_XDECREF(key);
    Py_XDECREF(zone);
}

PyObject *zone_for_key_text(std::string_view text) {
    lock_last_key();
    PyObject *zone = g_last_key != nullptr &&
                             static_cast<std::size_t>(PyUnicode_GET_LENGTH(g_last_key)) == text.size() &&
                             std::memcmp(PyUnicode_DATA(g_last_key), text.data(), text.size()) == 0
                         ? Py_NewRef(g_last_zone)
                         : nullptr;
    unlock_last_key();
    if (zone != nullptr) return zone;
    PyObject *key = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    if (key == nullptr) return nullptr;
    zone = zone_for_key(key);
    if (zone != nullptr && PyUnicode_IS_COMPACT_ASCII(key)) {
        lock_last_key();
        PyObject *old_key = std::exchange(g_last_key, Py_NewRef(key));
        PyObject *old_zone = std::exchange(g_last_zone, Py_NewRef(zone));
        unlock_last_key();
        Py_XDECREF(old_key);
        Py_XDECREF(old_zone);
    }
    Py_DECREF(key);
    return zone;
}

// --- The Zone class ---------------------------------------------------------------

static constexpr auto zone_class = declare_class("merandol_interop.Zone");

static PyObject *zone_new(PyTypeObject *, PyObject *key) { return zone_for_key(key); }
static constexpr auto zone_new_decl = zone_class.constructor(zone_new, param<Any>("key"));

static PyObject *zone_from_tzif(PyObject *, PyObject *data, std::optional<PyObject *> given_key) {
    PyObject *key = given_key.value_or(nullptr);
    if (key != nullptr && !PyUnicode_Check(key))
        return PyErr_Format(PyExc_TypeError, "a zone key must be a str or None, not '%T'", key);
    Py_buffer view;
    if (PyObject_GetBuffer(data, &view, PyBUF_SIMPLE) < 0) return nullptr;
    PyObject *zone =
        zone_from_bytes({static_cast<const std::uint8_t *>(view.buf), static_cast<std::size_t>(view.len)}, key, true);
    PyBuffer_Release(&view);
    return zone;
}
static constexpr auto zone_from_tzif_decl =
    zone_class.class_method("from_tzif", zone_from_tzif,
                            "Read a zone from the bytes of a TZif file (RFC 8536).\n\n"
                            "Args:\n"
                            "    data: The bytes of the file.\n"
                            "    key: The zone's key, or None for none (default=None).\n\n"
                            "Returns:\n"
                            "    Zone: A new zone with the given key or none.  It is not cached.\n\n"
                            "Raises:\n"
                            "    ValueError: For a damaged file, naming the key (or \"bytes\") and what is\n"
                            "        wrong.",
                            param<Any>("data"), param<OrNone<Any>>("key", {}));

static PyObject *zone_clear_cache(PyObject *) {
    forget_last_key();
    PyDict_Clear(g_cache);
    Py_RETURN_NONE;
}
static constexpr auto zone_clear_cache_decl = zone_class.class_method(
    "clear_cache", zone_clear_cache, "Forget the zones read by key; the next Zone(key) reads its file again.");

static PyObject *zone_offset_at(PyObject *self, DateTime utc) {
    return UtcOffsetObject::wrap(UtcOffset{zone_of(self).offset_at(unix_timestamp(utc))});
}
static constexpr auto zone_offset_at_decl =
    zone_class.instance_method("offset_at", zone_offset_at,
                               "Get the UtcOffset in force at an instant.\n\n"
                               "Args:\n"
                               "    instant: A DateTime or OffsetDateTime instance.\n\n"
                               "Returns:\n"
                               "    UtcOffset: The offset in force at the instant.",
                               param<Instant>("instant"));

static PyObject *zone_to_local(PyObject *self, DateTime utc) {
    return OffsetDateTimeObject::wrap(to_zone(zone_of(self), utc));
}
static constexpr auto zone_to_local_decl =
    zone_class.instance_method("to_local", zone_to_local,
                               "Convert an instant to the zone's local time.\n\n"
                               "Args:\n"
                               "    instant: A DateTime or OffsetDateTime instance.\n\n"
                               "Returns:\n"
                               "    OffsetDateTime: The same instant at the offset in force there.",
                               param<Instant>("instant"));

static_assert(DisambiguateWord::word_of(Disambiguate::Raise) == "raise");

PyObject *zone_name(PyObject *self) {
    PyObject *key = zone_key(self);
    return key != nullptr ? Py_NewRef(key) : PyUnicode_FromString("a zone read from bytes");
}

PyObject *unsettled_local(PyObject *zone, DateTime local, ZoneLocalError error) {
    if (error == ZoneLocalError::OutOfRange) return value_error("Invalid local datetime: ", "OutOfRange");
    char reading[kDateTimeTextMax];
    char *end = write_datetime(reading, local) - 1;  // without the "Z"
    PyObject *name = zone_name(zone);
    if (name == nullptr) return nullptr;
    const bool skipped = error == ZoneLocalError::Skipped;
    PyErr_Format(PyExc_ValueError, "%.*s is %s in %U: a change of offset %s it (disambiguate='raise')",
                 static_cast<int>(end - reading), reading, skipped ? "skipped" : "repeated", name,
                 skipped ? "skips" : "repeats");
    Py_DECREF(name);
    return nullptr;
}

static PyObject *zone_from_local(PyObject *self, Date date, Time time, Disambiguate how) {
    const auto value = from_zone_local(zone_of(self), DateTime{date, time}, how);
    if (value) return OffsetDateTimeObject::wrap(*value);
    return unsettled_local(self, DateTime{date, time}, value.error());
}
static constexpr auto zone_from_local_decl =
    zone_class.instance_method("from_local", zone_from_local,
                               "Create the OffsetDateTime of a local reading in the zone.\n\n"
                               "Args:\n"
                               "    date: A Date instance (in local time).\n"
                               "    time: A Time instance (in local time).\n"
                               "    disambiguate: How a reading that a change skips (a gap) or repeats (a\n"
                               "        fold) is settled: \"compatible\" takes the earlier instant of a fold\n"
                               "        and moves a reading in a gap forward by the gap's length, \"earlier\"\n"
                               "        and \"later\" take that one of the two candidates, and \"raise\" raises\n"
                               "        ValueError (default='compatible').\n\n"
                               "Returns:\n"
                               "    OffsetDateTime: The reading at the offset in force at its instant.\n\n"
                               "Raises:\n"
                               "    ValueError: If disambiguate is \"raise\" and the reading is in a gap or a\n"
                               "        fold, or if its instant is out of range.",
                               param<Of<DateObject>>("date"), param<Of<TimeObject>>("time"),
                               param<DisambiguateWord>("disambiguate", Disambiguate::Compatible));

static PyObject *optional_value(std::optional<OffsetDateTime> v) {
    if (!v) Py_RETURN_NONE;
    return OffsetDateTimeObject::wrap(*v);
}

static PyObject *zone_next_transition(PyObject *self, DateTime utc) {
    return optional_value(next_zone_transition(zone_of(self), utc));
}
static constexpr auto zone_next_transition_decl =
    zone_class.instance_method("next_transition", zone_next_transition,
                               "Find the next change of offset after an instant.\n\n"
                               "Args:\n"
                               "    instant: A DateTime or OffsetDateTime instance.\n\n"
                               "Returns:\n"
                               "    OffsetDateTime | None: The nearest instant strictly after this one where\n"
                               "    the offset changes, at the new offset, or None.",
                               param<Instant>("instant"));

static PyObject *zone_previous_transition(PyObject *self, DateTime utc) {
    return optional_value(previous_zone_transition(zone_of(self), utc));
}
static constexpr auto zone_previous_transition_decl =
    zone_class.instance_method("previous_transition", zone_previous_transition,
                               "Find the last change of offset before an instant.\n\n"
                               "Args:\n"
                               "    instant: A DateTime or OffsetDateTime instance.\n\n"
                               "Returns:\n"
                               "    OffsetDateTime | None: The nearest instant strictly before this one\n"
                               "    where the offset changes, at the new offset, or None.",
                               param<Instant>("instant"));

static PyObject *zone_get_key(PyObject *self, void *) {
    PyObject *key = zone_key(self);
    return Py_NewRef(key != nullptr ? key : Py_None);
}

static PyObject *zone_repr(PyObject *self) {
    PyObject *key = zone_key(self);
    if (key == nullptr) return PyUnicode_FromFormat("<Zone read from bytes at %p>", self);
    return PyUnicode_FromFormat("Zone(%R)", key);
}

static PyObject *zone_str(PyObject *self) {
    PyObject *key = zone_key(self);
    return key != nullptr ? Py_NewRef(key) : zone_repr(self);
}

// Zones are equal when they have the same key (or none) and the same
// rules: a key given with bytes need not name the rules read.
static PyObject *zone_richcompare(PyObject *self, PyObject *other, int op) {
    if (!is_zone(other) || (op != Py_EQ && op != Py_NE)) Py_RETURN_NOTIMPLEMENTED;
    PyObject *a = zone_key(self), *b = zone_key(other);
    bool equal = self == other;
    if (!equal && (a == nullptr) == (b == nullptr)) {
        equal = a == nullptr || PyUnicode_Compare(a, b) == 0;
        if (PyErr_Occurred()) return nullptr;
        equal = equal && zone_of(self).same_rules(zone_of(other));
    }
    return Py_NewRef(equal == (op == Py_EQ) ? Py_True : Py_False);
}

// Equal zones have the same key, or none and the same rules.
static Py_hash_t zone_hash(PyObject *self) {
    PyObject *key = zone_key(self);
    if (key != nullptr) return PyObject_Hash(key);
    const auto hash = static_cast<Py_hash_t>(zone_of(self).rules_hash());
    return hash == -1 ? -2 : hash;
}

bool zone_pickles(PyObject *zone) {
    if (!reinterpret_cast<ZoneObject *>(zone)->from_bytes) return true;
    PyErr_Format(PyExc_TypeError,
                 "a Zone read from bytes cannot be pickled: unpickling finds a zone by its key, "
                 "whose file may hold other rules");
    return false;
}

static PyObject *zone_reduce(PyObject *self) {
    if (!zone_pickles(self)) return nullptr;
    return Py_BuildValue("(O(O))", reinterpret_cast<PyObject *>(zone_type()), zone_key(self));
}
static constexpr auto zone_reduce_decl = zone_class.reduce(zone_reduce);

// The object and the zone's own table; its key is a str of its own.
static PyObject *zone_sizeof(PyObject *self) {
    const Zone &zone = zone_of(self);
    return int_from(static_cast<std::int64_t>(sizeof(ZoneObject) - sizeof(Zone) + zone.memory_size()));
}
static constexpr auto zone_sizeof_decl =
    zone_class.instance_method("__sizeof__", zone_sizeof, "Get the size of the zone in memory, in bytes.");

// A zone is immutable: a copy is the zone itself.
static PyObject *zone_copy(PyObject *self) { return Py_NewRef(self); }
static constexpr auto zone_copy_decl = zone_class.instance_method("__copy__", zone_copy, "Return the zone itself.");

static PyObject *zone_deepcopy(PyObject *self, PyObject *) { return Py_NewRef(self); }
static constexpr auto zone_deepcopy_decl =
    zone_class.instance_method("__deepcopy__", zone_deepcopy,
                               "Return the zone itself.\n\n"
                               "Args:\n"
                               "    memo: The memo of the deep copy, which a zone does not need.\n\n"
                               "Returns:\n"
                               "    Zone: The zone itself.",
                               param<Any>("memo"));

static PyMethodDef zone_methods[] = {
    row<zone_from_tzif_decl>(),
    row<zone_clear_cache_decl>(),
    row<zone_offset_at_decl>(),
    row<zone_to_local_decl>(),
    row<zone_from_local_decl>(),
    row<zone_next_transition_decl>(),
    row<zone_previous_transition_decl>(),
    row<zone_reduce_decl>(),
    row<zone_sizeof_decl>(),
    row<zone_copy_decl>(),
    row<zone_deepcopy_decl>(),
    kEndOfMethods,
};

static PyGetSetDef zone_getset[] = {
    {"key", zone_get_key, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

static PyType_Slot zone_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void *>(zone_dealloc)},
    {Py_tp_doc, class_doc<zone_new_decl>()},
    {Py_tp_new, reinterpret_cast<void *>(constructor_new<zone_new_decl>)},
    {kVectorcallSlot, reinterpret_cast<void *>(constructor_vectorcall<zone_new_decl>)},
    {Py_tp_repr, reinterpret_cast<void *>(zone_repr)},
    {Py_tp_str, reinterpret_cast<void *>(zone_str)},
    {Py_tp_richcompare, reinterpret_cast<void *>(zone_richcompare)},
    {Py_tp_hash, reinterpret_cast<void *>(zone_hash)},
    {Py_tp_getset, zone_getset},
    {Py_tp_methods, zone_methods},
    {0, nullptr},
};

static PyType_Spec zone_spec = {
    .name = zone_class.qualified_name,
    .basicsize = sizeof(ZoneObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = zone_slots,
};

// --- Module functions ------------------------------------------------------------

static PyObject *available_zones(PyObject *) {
    PyObject *zoneinfo = PyImport_ImportModule("zoneinfo");
    if (zoneinfo == nullptr) return nullptr;
    PyObject *keys = PyObject_CallMethod(zoneinfo, "available_timezones", nullptr);
    Py_DECREF(zoneinfo);
    return keys;
}
static constexpr auto available_zones_decl =
    module_function("available_zones", available_zones,
                    "Get the keys that Zone(key) finds.\n\n"
                    "Returns:\n"
                    "    set: The keys, as zoneinfo.available_timezones() gives them.");

static PyMethodDef zones_functions[] = {
    row<available_zones_decl>(),
    kEndOfMethods,
};

// The class, its cache and ZoneNotFoundError, made once for the process.
static int zones_exec(PyObject *module) {
    static PyMutex lock;
    PyMutex_Lock(&lock);
    int result = 0;
    if (zone_type() == nullptr) {
        PyObject *not_found_error = PyErr_NewExceptionWithDoc(
            "merandol_interop.ZoneNotFoundError", "No time zone was found for the key.", PyExc_KeyError, nullptr);
        PyObject *cache = not_found_error ? PyDict_New() : nullptr;
        PyObject *type = cache ? type_from_spec(&zone_spec) : nullptr;
        if (type != nullptr && bind_class_methods(reinterpret_cast<PyTypeObject *>(type)) < 0) Py_CLEAR(type);
        if (type == nullptr) {
            Py_XDECREF(not_found_error);
            Py_XDECREF(cache);
            result = -1;
        } else {
            g_cache = cache;
            g_zone_not_found.store(not_found_error, std::memory_order_release);
            g_zone_type.store(reinterpret_cast<PyTypeObject *>(type), std::memory_order_release);
        }
    }
    PyMutex_Unlock(&lock);
    if (result < 0) return -1;
    if (PyModule_AddObjectRef(module, "Zone", reinterpret_cast<PyObject *>(zone_type())) < 0 ||
        PyModule_AddObjectRef(module, "ZoneNotFoundError", g_zone_not_found.load(std::memory_order_acquire)) < 0)
        return -1;
    return 0;
}

extern const InteropUnit kZonesUnit = {zones_functions, zones_exec, {"Zone", "ZoneNotFoundError"}};

}  // namespace merandol::py
