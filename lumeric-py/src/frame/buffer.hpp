// frame/buffer.hpp: exporting a class's doubles as a read-only buffer, and reading the
// buffer of any other exporter.
//
// Export. A class whose value is a C-contiguous block of doubles (rows x columns) hands it
// out without a copy (and so do array results, result_view.hpp): `memoryview(obj)`,
// `numpy.asarray(obj)`. Each view holds a shared borrow of the object for as long as it lives,
// counted as a view's (borrow.hpp), so in-place operations fail with the borrow error that
// names the view, and nothing moves the memory under it; releasing the last view lifts the
// borrow. The
// view also holds a reference to the object, which keeps it alive. Writable requests are
// refused: a write through a view would change the value behind the borrow rules' back.
//
// Import. ReadBuffer takes a strided view of any exporter (released on scope exit), and
// ElementFormat tells how its elements become doubles: native float64 bit for bit, native
// float32 widened, native integers of any width as `float(int)` would convert them.
#pragma once

#include <Python.h>

#include <cstddef>
#include <optional>
#include <string>

#include "frame/errors.hpp"
#include "frame/guard.hpp"
#include "frame/object.hpp"
#include "frame/record.hpp"

namespace lumeric {

// A C-contiguous block of doubles inside a value.
struct DoubleBlock {
    const double* data;
    std::size_t rows;
    std::size_t columns;
};

// The text of BufferError for writable requests.
inline constexpr const char* read_only_buffer = "the buffer is read-only: write to the object's methods instead";

// The parts of a view that must outlive the call that filled it (never on the stack).
struct ViewLayout {
    Py_ssize_t shape[2];
    Py_ssize_t strides[2];
};

// A C-contiguous block of 8-byte numbers, format "d" (double) or "q" (std::int64_t): rows x
// columns of them, or a one-dimensional run of `rows` when columns is 0.
struct NumberBlock {
    const void* data;
    std::size_t rows;
    std::size_t columns;
    const char* format;
};

// Fills `view` with `block` (owned by `self`) as the request `flags` asks; throws PythonError.
void fill_view(PyObject* self, Py_buffer* view, int flags, const NumberBlock& block);

// Block: DoubleBlock(const T&).
template <class T, auto Block>
struct BufferExport {
    static int get(PyObject* self, Py_buffer* view, int flags) noexcept {
        view->obj = nullptr;
        return guard<int>(-1, [&] {
            if ((flags & PyBUF_WRITABLE) == PyBUF_WRITABLE) raise(PyExc_BufferError, read_only_buffer);
            Object<T>* object = object_cast<T>(self);
            if (!object->borrow.try_view()) raise(PyExc_RuntimeError, already_mutably_borrowed);
            try {
                const DoubleBlock block = Block(object->value);
                fill_view(self, view, flags, {block.data, block.rows, block.columns, "d"});
            } catch (...) {
                object->borrow.release_view();
                throw;
            }
            return 0;
        });
    }
    static void release(PyObject* self, Py_buffer* view) noexcept {
        PyMem_Free(view->internal);
        object_cast<T>(self)->borrow.release_view();
    }
};

// -- Reading another object's buffer --

enum class ElementKind { float64, float32, signed_integer, unsigned_integer };

struct ElementFormat {
    ElementKind kind;
    std::size_t width;  // bytes per element
};

// The kind of the view's elements, if it is one of those.
std::optional<ElementFormat> parse_element_format(const Py_buffer& view) noexcept;

// The kind of the view's elements, or TypeError "{call} cannot read elements of format '{f}'...".
ElementFormat element_format(const Py_buffer& view, const char* call);

// A strided view of `object`'s buffer, released on scope exit; throws PythonError. An
// exporter that refuses the request (numpy's object arrays) gives TypeError "{call} cannot
// read the buffer of '{type}': {reason}"; its own error is the cause.
class ReadBuffer {
public:
    ReadBuffer(PyObject* object, int flags, const char* call);
    ReadBuffer(const ReadBuffer&) = delete;
    ReadBuffer& operator=(const ReadBuffer&) = delete;
    ~ReadBuffer() { PyBuffer_Release(&view_); }

    const Py_buffer& view() const noexcept { return view_; }
    // "(4, 2)", "(3,)": the shape as Python writes a tuple.
    std::string shape_text() const;

private:
    Py_buffer view_;
};

// -- Records: `__buffer__(self, flags: int) -> memoryview` and its release --

struct MemoryView {};

namespace record {
template <>
struct Annotation<MemoryView> {
    static constexpr std::string text() { return builtin("memoryview"); }
};
}  // namespace record

}  // namespace lumeric
