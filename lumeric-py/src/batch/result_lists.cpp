// batch/result_lists.cpp: lists whose item arrays serve as result arrays.
#include "batch/result_lists.hpp"

#include "bulk/bulk_allocator.hpp"

namespace lumeric {

PyObject* new_list(std::size_t size) {
    PyObject* list = checked(PyList_New(static_cast<Py_ssize_t>(size)));
    advise_huge_pages(reinterpret_cast<PyListObject*>(list)->ob_item, size * sizeof(PyObject*));
    return list;
}

namespace list_slots {

PyObject* make(std::size_t size) {
    PyObject* list = new_list(size);
    // Nothing may traverse the slots before they hold objects.
    PyObject_GC_UnTrack(list);
    return list;
}

void discard(PyObject* list, std::size_t first) noexcept {
    PyObject** items = reinterpret_cast<PyListObject*>(list)->ob_item;
    const auto n = static_cast<std::size_t>(PyList_GET_SIZE(list));
    if (n > first) std::memset(static_cast<void*>(items + first), 0, (n - first) * sizeof(PyObject*));
    Py_DECREF(list);
}

PyObject* finish(PyObject* list) noexcept {
    PyObject_GC_Track(list);
    return list;
}

}  // namespace list_slots

}  // namespace lumeric
