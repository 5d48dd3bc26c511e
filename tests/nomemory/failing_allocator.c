/* Built by the allocation-failure sweep for the debug interpreter that runs
 * it: a wrapper around the interpreter's allocators of every domain,
 * installed with PyMem_SetAllocator for the length of one call, that counts
 * the allocations the call makes and fails the Nth.  The interpreter's own
 * test module has such hooks too, but does not tell how many allocations a
 * call made, which is what ends the sweep of one call. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <dlfcn.h>
#include <execinfo.h>
#include <link.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#ifndef Py_REF_DEBUG
#error "the reference total is read from a debug interpreter"
#endif

static const PyMemAllocatorDomain kDomains[] = {PYMEM_DOMAIN_RAW, PYMEM_DOMAIN_MEM, PYMEM_DOMAIN_OBJ};
#define DOMAIN_COUNT (sizeof kDomains / sizeof kDomains[0])

static PyMemAllocatorEx next_allocators[DOMAIN_COUNT];
/* Allocations counted since the hooks went in, and the one that fails (0:
 * none).  Only the thread that holds the GIL runs while they are in. */
static Py_ssize_t counted, fail_at;

/* The native stack of the allocation that failed last, for the message of
 * a failing test. */
static void *failed_stack[48];
static int failed_depth;

/* Allocations made by a library whose path holds this text are neither
 * counted nor failed (NULL: none is spared).  A library's allocation is one
 * whose nearest caller outside the interpreter lies in that library. */
static char *spared_library;

/* The interpreter's loaded segments, found once: a frame in them is passed
 * over without a look-up of its symbol (the interpreter exports thousands). */
static struct {
    uintptr_t start, end;
} interpreter_segments[16];
static int interpreter_segment_count;

static int find_interpreter(struct dl_phdr_info *info, size_t size, void *unused) {
    (void)size, (void)unused;
    const uintptr_t probe = (uintptr_t)PyMem_Malloc;
    int found = 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr) *ph = &info->dlpi_phdr[i];
        const uintptr_t start = info->dlpi_addr + ph->p_vaddr;
        if (ph->p_type == PT_LOAD && probe >= start && probe < start + ph->p_memsz) found = 1;
    }
    for (int i = 0; found && i < info->dlpi_phnum && interpreter_segment_count < 16; ++i) {
        const ElfW(Phdr) *ph = &info->dlpi_phdr[i];
        if (ph->p_type != PT_LOAD) continue;
        interpreter_segments[interpreter_segment_count].start = info->dlpi_addr + ph->p_vaddr;
        interpreter_segments[interpreter_segment_count++].end = info->dlpi_addr + ph->p_vaddr + ph->p_memsz;
    }
    return found;
}

static int in_interpreter(void *address) {
    for (int i = 0; i < interpreter_segment_count; ++i)
        if ((uintptr_t)address >= interpreter_segments[i].start && (uintptr_t)address < interpreter_segments[i].end)
            return 1;
    return 0;
}

static int spared(void) {
    if (spared_library == NULL) return 0;
    void *stack[16];
    const int depth = backtrace(stack, sizeof stack / sizeof stack[0]);
    /* Frame 0 is this function, 1 fails(), 2 the hook. */
    for (int i = 3; i < depth; ++i) {
        if (in_interpreter(stack[i])) continue;
        Dl_info info;
        return dladdr(stack[i], &info) != 0 && info.dli_fname != NULL && strstr(info.dli_fname, spared_library) != NULL;
    }
    return 0;
}

static int fails(void) {
    if (spared()) return 0;
    if (++counted != fail_at) return 0;
    failed_depth = backtrace(failed_stack, sizeof failed_stack / sizeof failed_stack[0]);
    return 1;
}

static void *hook_malloc(void *ctx, size_t size) {
    PyMemAllocatorEx *next = ctx;
    return fails() ? NULL : next->malloc(next->ctx, size);
}

static void *hook_calloc(void *ctx, size_t count, size_t size) {
    PyMemAllocatorEx *next = ctx;
    return fails() ? NULL : next->calloc(next->ctx, count, size);
}

static void *hook_realloc(void *ctx, void *ptr, size_t size) {
    PyMemAllocatorEx *next = ctx;
    return fails() ? NULL : next->realloc(next->ctx, ptr, size);
}

static void hook_free(void *ctx, void *ptr) {
    PyMemAllocatorEx *next = ctx;
    next->free(next->ctx, ptr);
}

static void install(Py_ssize_t n) {
    static int unwinder_loaded;
    if (!unwinder_loaded) {
        /* The first backtrace() loads the unwinder, which allocates. */
        void *frame;
        unwinder_loaded = backtrace(&frame, 1) >= 0;
    }
    failed_depth = 0;
    counted = 0;
    fail_at = n;
    for (size_t i = 0; i < DOMAIN_COUNT; ++i) {
        PyMem_GetAllocator(kDomains[i], &next_allocators[i]);
        PyMemAllocatorEx hook = {&next_allocators[i], hook_malloc, hook_calloc, hook_realloc, hook_free};
        PyMem_SetAllocator(kDomains[i], &hook);
    }
}

static void uninstall(void) {
    for (size_t i = 0; i < DOMAIN_COUNT; ++i) PyMem_SetAllocator(kDomains[i], &next_allocators[i]);
}

static PyObject *injected_call(PyObject *thunk, Py_ssize_t n, PyObject **raised) {
    install(n);
    PyObject *result = PyObject_CallNoArgs(thunk);
    *raised = result == NULL ? PyErr_GetRaisedException() : NULL;
    uninstall();
    return result;
}

static int arity(const char *name, Py_ssize_t nargs, Py_ssize_t expected) {
    if (nargs == expected) return 1;
    PyErr_Format(PyExc_TypeError, "%s() takes %zd arguments (%zd given)", name, expected, nargs);
    return 0;
}

static int read_n(PyObject *arg, Py_ssize_t *n) {
    *n = PyLong_AsSsize_t(arg);
    if (*n == -1 && PyErr_Occurred()) return 0;
    if (*n < 0) {
        PyErr_SetString(PyExc_ValueError, "n must not be negative");
        return 0;
    }
    return 1;
}

/* call(thunk, n) -> (allocations counted, result or None, exception or None)
 * with the nth allocation failing (n = 0: none). */
static PyObject *call(PyObject *module, PyObject *const *args, Py_ssize_t nargs) {
    (void)module;
    Py_ssize_t n;
    if (!arity("call", nargs, 2) || !read_n(args[1], &n)) return NULL;
    PyObject *raised;
    PyObject *result = injected_call(args[0], n, &raised);
    const Py_ssize_t reached = counted;
    PyObject *out = Py_BuildValue("(nOO)", reached, result ? result : Py_None, raised ? raised : Py_None);
    Py_XDECREF(result);
    Py_XDECREF(raised);
    return out;
}

static int blocks_now(Py_ssize_t *out) {
    PyObject *f = PySys_GetObject("getallocatedblocks"); /* borrowed */
    PyObject *v = f ? PyObject_CallNoArgs(f) : NULL;
    *out = v ? PyLong_AsSsize_t(v) : -1;
    Py_XDECREF(v);
    return !PyErr_Occurred();
}

/* drift(thunk, n, runs) -> (references, blocks): the change in the
 * interpreter's reference total and allocated blocks over `runs` calls with
 * the nth allocation failing, after one call that fills what the first call
 * caches.  The collector stays off, so that it frees nothing else meanwhile. */
static PyObject *drift(PyObject *module, PyObject *const *args, Py_ssize_t nargs) {
    (void)module;
    Py_ssize_t n, runs;
    if (!arity("drift", nargs, 3) || !read_n(args[1], &n) || !read_n(args[2], &runs)) return NULL;
    const int collector_was_on = PyGC_Disable();
    Py_ssize_t refs = 0, blocks = 0, blocks_after = 0;
    for (Py_ssize_t i = 0; i <= runs; ++i) {
        if (i == 1) {
            refs = _Py_GetGlobalRefTotal();
            if (!blocks_now(&blocks)) break;
        }
        PyObject *raised;
        Py_XDECREF(injected_call(args[0], n, &raised));
        Py_XDECREF(raised);
    }
    if (!PyErr_Occurred() && blocks_now(&blocks_after)) refs = _Py_GetGlobalRefTotal() - refs;
    if (collector_was_on) PyGC_Enable();
    if (PyErr_Occurred()) return NULL;
    return Py_BuildValue("(nn)", refs, blocks_after - blocks);
}

/* spare(text or None): allocations made by a library whose path holds the
 * text are left alone from now on. */
static PyObject *spare(PyObject *module, PyObject *text) {
    (void)module;
    const char *utf8 = text == Py_None ? NULL : PyUnicode_AsUTF8(text);
    if (utf8 == NULL && text != Py_None) return NULL;
    char *copy = utf8 ? strdup(utf8) : NULL;
    if (utf8 != NULL && copy == NULL) return PyErr_NoMemory();
    if (interpreter_segment_count == 0 && dl_iterate_phdr(find_interpreter, NULL) == 0) {
        free(copy);
        PyErr_SetString(PyExc_RuntimeError, "the interpreter's own segments cannot be found");
        return NULL;
    }
    free(spared_library);
    spared_library = copy;
    Py_RETURN_NONE;
}

/* where() -> the native stack of the allocation that failed last, one str
 * per frame, innermost first. */
static PyObject *where(PyObject *module, PyObject *unused) {
    (void)module, (void)unused;
    char **names = backtrace_symbols(failed_stack, failed_depth);
    if (names == NULL) return PyList_New(0);
    PyObject *frames = PyList_New(0);
    for (int i = 1; frames != NULL && i < failed_depth; ++i) {
        PyObject *name = PyUnicode_FromString(names[i]);
        if (name == NULL || PyList_Append(frames, name) < 0) Py_CLEAR(frames);
        Py_XDECREF(name);
    }
    free(names);
    return frames;
}

static PyMethodDef kMethods[] = {
    {"where", where, METH_NOARGS, NULL},
    {"spare", spare, METH_O, NULL},
    {"call", (PyCFunction)(void (*)(void))call, METH_FASTCALL, NULL},
    {"drift", (PyCFunction)(void (*)(void))drift, METH_FASTCALL, NULL},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef kModule = {
    .m_base = PyModuleDef_HEAD_INIT, .m_name = "failing_allocator", .m_size = -1, .m_methods = kMethods};

PyMODINIT_FUNC PyInit_failing_allocator(void) { return PyModule_Create(&kModule); }
