// frame/result_view.hpp: results of many plain numbers, handed to Python as read-only
// memoryviews.
//
// An operation that answers with an array of doubles or 64-bit integers makes an
// ResultView<E> of shape (rows,) or (rows, columns), lets its workers write the numbers in
// place, and returns release(): `memoryview(holder)`, format 'd' or 'q', over a small internal
// object that owns the numbers and exports them (buffer.hpp). numpy takes such a view without
// a copy, `.tolist()` makes lists of it, and it needs nothing beyond CPython. The holder is
// immutable and has no interface of its own, so it carries no records.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>

#include "frame/buffer.hpp"
#include "frame/object.hpp"
#include "frame/record.hpp"
#include "frame/ref.hpp"

namespace lumeric {

// The holder's value.
struct NumberArray {
    std::unique_ptr<std::uint64_t[]> items;  // 8-byte numbers, written as E
    std::size_t rows = 0;
    std::size_t columns = 0;  // 0: one-dimensional
    const char* format = "d";
};

PyType_Spec* number_array_spec();

template <>
struct ClassFor<NumberArray> {
    static constexpr Name name = "NumberArray";
    static inline ClassCell cell{name.c_str(), &number_array_spec};
};

// MemoryError, before anything is allocated or touched, when `count` items of `size` bytes
// would take more than half the machine's physical memory: beside its inputs, a result that
// large could only end in swapping or in the system killing the process. Throws PythonError.
void require_room(std::size_t count, std::size_t size);

// The same for several arrays that one result needs together: `count` items of `size` bytes
// each. Checked on their total, before any of them is allocated.
struct Extent {
    std::size_t count;
    std::size_t size;
};
void require_room(std::initializer_list<Extent> arrays);

// An array of rows x columns (rows when columns is 0) numbers, not yet written. MemoryError
// when it is larger than memory can hold (require_room); throws PythonError.
NumberArray new_number_array(std::size_t rows, std::size_t columns, const char* format);

// The array as a read-only memoryview; throws PythonError.
Ref number_array_view(NumberArray array);

template <class E>
struct NumberFormat;
template <>
struct NumberFormat<double> {
    static constexpr const char* code = "d";
};
template <>
struct NumberFormat<std::int64_t> {
    static constexpr const char* code = "q";
};

template <class E>
class ResultView {
    static_assert(sizeof(E) == 8, "array results hold 8-byte numbers");

public:
    ResultView(std::size_t rows, std::size_t columns)
        : array_(new_number_array(rows, columns, NumberFormat<E>::code)) {}

    // What an array of this shape takes, for require_room.
    static Extent extent(std::size_t rows, std::size_t columns) noexcept {
        return {rows, (columns == 0 ? 1 : columns) * sizeof(E)};
    }

    E* data() const noexcept { return reinterpret_cast<E*>(array_.items.get()); }
    // The memoryview; the result is spent.
    Ref release() { return number_array_view(std::move(array_)); }

private:
    NumberArray array_;
};

// An operation may return a view result, or a pair of them, as it is.
template <class E>
PyObject* to_python(ResultView<E>&& result) {
    return result.release().release();
}

namespace record {
template <class E>
struct Annotation<ResultView<E>> : Annotation<MemoryView> {};
}  // namespace record

}  // namespace lumeric
