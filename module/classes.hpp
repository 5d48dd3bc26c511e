// What merandol's class units share and merandol_interop does not: the
// definition each unit hands to the registry, and the allocation and
// release slots of the instances, with their free lists.
#pragma once

#include "binding/frame.hpp"

namespace merandol::py {

// What a class unit provides to the registry: its PyType_Spec and,
// optionally, a step that runs once on the new class object before it is
// published (Weekday stores its class attributes).
struct ClassDef {
    PyType_Spec *spec;
    int (*finish)(PyTypeObject *type);
};

// kDateClass and the like, one per entry of the class list.
#define MERANDOL_CLASS_DEF(Name) extern const ClassDef k##Name##Class;
MERANDOL_CLASSES(MERANDOL_CLASS_DEF)
#undef MERANDOL_CLASS_DEF

// With the GIL, released instances wait on a short list per size (24, 32 or
// 40 bytes) and the next allocation of that size takes one back, a pop
// instead of a trip through the object allocator.  The GIL serialises every
// use of the lists; a free-threaded build goes to the allocator directly.
// Builds under sanitizers or valgrind define MERANDOL_NO_FREE_LISTS, so that
// a released instance goes back to the allocator, where any later use of it
// is caught.
#if !defined(Py_GIL_DISABLED) && !defined(MERANDOL_NO_FREE_LISTS)
#define MERANDOL_FREE_LISTS 1
struct FreeList {
    static constexpr int kCapacity = 64;
    int count;
    void *items[kCapacity];
};
inline constexpr std::size_t kFreeListSizes = 3;
extern FreeList g_free_lists[kFreeListSizes];

// 24, 32, 40 bytes map to 0, 1, 2; anything else has no list.
inline FreeList *free_list_for(Py_ssize_t size) noexcept {
    const std::size_t index = static_cast<std::size_t>(size) / 8 - 3;
    return index < kFreeListSizes && size % 8 == 0 ? &g_free_lists[index] : nullptr;
}
#endif

PyObject *instance_alloc_slow(PyTypeObject *type) noexcept;

inline PyObject *instance_alloc_sized(PyTypeObject *type, [[maybe_unused]] Py_ssize_t size) noexcept {
#ifdef MERANDOL_FREE_LISTS
    if (FreeList *list = free_list_for(size); list != nullptr && list->count > 0)
        return PyObject_Init(static_cast<PyObject *>(list->items[--list->count]), type);
#endif
    return instance_alloc_slow(type);
}

// The allocation slot, through which merandol_interop allocates.
inline PyObject *instance_alloc(PyTypeObject *type, Py_ssize_t = 0) noexcept {
    return instance_alloc_sized(type, type->tp_basicsize);
}

// Release of an instance of `Size` bytes (the class's tp_basicsize, known
// to each class unit at compile time).
template <Py_ssize_t Size>
void instance_dealloc(PyObject *self) {
    PyTypeObject *type = Py_TYPE(self);
#ifdef MERANDOL_FREE_LISTS
    if (FreeList *list = free_list_for(Size); list != nullptr && list->count < FreeList::kCapacity) {
        list->items[list->count++] = self;
        Py_DECREF(type);
        return;
    }
#endif
    type->tp_free(self);
    Py_DECREF(type);
}

// The slots of a class whose instances are `InstanceType`.
// clang-format off
#define MERANDOL_INSTANCE_SLOTS(InstanceType)                                                              \
    {Py_tp_alloc, reinterpret_cast<void *>(::merandol::py::instance_alloc)},                                \
        {Py_tp_dealloc, reinterpret_cast<void *>(::merandol::py::instance_dealloc<sizeof(InstanceType)>)},  \
        {Py_tp_free, reinterpret_cast<void *>(PyObject_Free)}
// clang-format on

}  // namespace merandol::py
