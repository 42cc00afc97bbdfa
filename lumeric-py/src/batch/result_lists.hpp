// batch/result_lists.hpp: batch results that become Python lists.
//
// ResultList<E> is a fixed-length result whose slots are each written exactly once,
// often by several worker threads at a time. Its storage is the item array of the
// Python list it becomes: workers write plain values into the list's slots (one
// pointer-sized slot per element, so neighbouring slots never share a byte), and the
// conversion replaces each value by its object in place. So a list result costs no
// second array, no copy and no second set of first touches. Until then the list is
// private to the operation and untracked by the garbage collector, which must never
// see a slot that holds a plain value.
//
// std::span<const E> is a view of items owned elsewhere (e.g. a list's element array); an
// operation can return one to have the items copied into a new list. MappedSpan<T, Fn> is
// such a view whose list holds Fn(item) for each item. Both lists may be as large as
// the element arrays, so they are made like the result arrays.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "frame/convert.hpp"
#include "frame/record.hpp"

namespace lumeric {

// PyList_New(size), with the item array of a large list marked for huge pages before
// anything touches it (its first touches then fault once per 2 MiB); throws PythonError.
PyObject* new_list(std::size_t size);

namespace list_slots {

// A new list of `size` slots for plain values, untracked; throws PythonError.
PyObject* make(std::size_t size);
// Frees a list whose slots from `first` on still hold plain values.
void discard(PyObject* list, std::size_t first) noexcept;
// Makes the list, all of whose slots now hold objects, an ordinary list again.
PyObject* finish(PyObject* list) noexcept;

}  // namespace list_slots

template <class E>
class ResultList {
    static_assert(std::is_trivially_copyable_v<E> && sizeof(E) <= sizeof(PyObject*),
                  "a result element must fit in a list slot");

public:
    // What a slot holds until conversion: the value itself, or a pointer-sized integer
    // for narrower ones (bool).
    using Slot = std::conditional_t<sizeof(E) == sizeof(PyObject*), E, std::uintptr_t>;

    explicit ResultList(std::size_t size) : list_(list_slots::make(size)) {}
    ResultList(ResultList&& other) noexcept : list_(std::exchange(other.list_, nullptr)) {}
    ResultList& operator=(ResultList&&) = delete;
    ~ResultList() {
        if (list_ != nullptr) list_slots::discard(list_, 0);
    }

    Slot* data() noexcept { return reinterpret_cast<Slot*>(items()); }
    std::size_t size() const noexcept { return static_cast<std::size_t>(PyList_GET_SIZE(list_)); }

    // The list, each slot's value replaced by its object.
    PyObject* release() {
        PyObject** slots = items();
        const std::size_t n = size();
        for (std::size_t k = 0; k < n; ++k) {
            // Read through bytes: the slot's storage changes type from here on.
            Slot value;
            std::memcpy(&value, slots + k, sizeof value);
            PyObject* item;
            try {
                item = to_python(static_cast<E>(value));
            } catch (...) {
                list_slots::discard(std::exchange(list_, nullptr), k);
                throw;
            }
            slots[k] = item;
        }
        return list_slots::finish(std::exchange(list_, nullptr));
    }

private:
    PyObject** items() const noexcept { return reinterpret_cast<PyListObject*>(list_)->ob_item; }

    PyObject* list_;
};

template <class E>
PyObject* to_python(ResultList<E>&& items) {
    return items.release();
}

template <class E>
PyObject* to_python(std::span<E> items) {
    return fill_list(new_list(items.size()), items, [](const E& item) { return to_python(item); });
}

template <class T, auto Fn>
struct MappedSpan {
    std::span<const T> items;
};

template <class T, auto Fn>
PyObject* to_python(const MappedSpan<T, Fn>& view) {
    return fill_list(new_list(view.items.size()), view.items,
                     [](const T& item) { return to_python(std::invoke(Fn, item)); });
}

namespace record {

template <class E>
struct Annotation<ResultList<E>> : Annotation<std::vector<E>> {};
template <class E>
struct Annotation<std::span<E>> : Annotation<std::vector<std::remove_cv_t<E>>> {};
template <class T, auto Fn>
struct Annotation<MappedSpan<T, Fn>>
    : Annotation<std::vector<std::remove_cvref_t<std::invoke_result_t<decltype(Fn), const T&>>>> {};

}  // namespace record

}  // namespace lumeric
