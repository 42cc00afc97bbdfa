// frame/arrays.hpp: contiguous results that convert to Python lists.
//
// ResultArray<E> is a fixed-length result whose slots are each written exactly once,
// often by several worker threads at a time. It starts uninitialised (no pass over
// memory to zero it) and every element is a separate object (unlike
// std::vector<bool>, whose packed bits cannot be written concurrently).
//
// std::span<const E> is a view of items owned elsewhere (e.g. a container with its own
// allocator); an operation can return one to have the items copied into a new list.
#pragma once

#include <Python.h>

#include <cstddef>
#include <memory>
#include <span>
#include <type_traits>
#include <vector>

#include "frame/convert.hpp"
#include "frame/record.hpp"

namespace lumeric {

template <class E>
class ResultArray {
public:
    explicit ResultArray(std::size_t size) : items_(std::make_unique_for_overwrite<E[]>(size)), size_(size) {}

    E* data() noexcept { return items_.get(); }
    const E* data() const noexcept { return items_.get(); }
    std::size_t size() const noexcept { return size_; }
    const E* begin() const noexcept { return items_.get(); }
    const E* end() const noexcept { return items_.get() + size_; }

private:
    std::unique_ptr<E[]> items_;
    std::size_t size_;
};

template <class E>
PyObject* to_python(const ResultArray<E>& items) {
    return list_to_python(items);
}

template <class E>
PyObject* to_python(std::span<E> items) {
    return list_to_python(items);
}

namespace record {

template <class E>
struct Annotation<ResultArray<E>> : Annotation<std::vector<E>> {};
template <class E>
struct Annotation<std::span<E>> : Annotation<std::vector<std::remove_cv_t<E>>> {};

}  // namespace record

}  // namespace lumeric
