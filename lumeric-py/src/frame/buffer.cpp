// frame/buffer.cpp: filling exported views, and the element formats read from other exporters.
#include "frame/buffer.hpp"

#include <bit>
#include <cstring>
#include <optional>

namespace lumeric {

namespace {

// An empty block still needs a valid address to hand out.
const double empty_block[1] = {0.0};

}  // namespace

void fill_view(PyObject* self, Py_buffer* view, int flags, const NumberBlock& block) {
    // The block is C-contiguous; Fortran order only when one of its sides is at most 1.
    constexpr int fortran_order = PyBUF_F_CONTIGUOUS & ~PyBUF_STRIDES;
    if ((flags & fortran_order) != 0 && block.rows > 1 && block.columns > 1)
        raise(PyExc_BufferError, "the buffer is C-contiguous, not Fortran-contiguous");
    auto* layout = static_cast<ViewLayout*>(PyMem_Malloc(sizeof(ViewLayout)));
    if (layout == nullptr) {
        PyErr_NoMemory();
        throw PythonError{};
    }
    const int ndim = block.columns == 0 ? 1 : 2;
    const auto rows = static_cast<Py_ssize_t>(block.rows);
    const auto columns = static_cast<Py_ssize_t>(block.columns == 0 ? 1 : block.columns);
    constexpr Py_ssize_t item = 8;
    *layout = {{rows, columns}, {columns * item, item}};
    if (ndim == 1) layout->strides[0] = item;
    view->buf = const_cast<void*>(block.rows == 0 ? static_cast<const void*>(empty_block) : block.data);
    view->obj = Py_NewRef(self);
    view->len = rows * columns * item;
    view->readonly = 1;
    if ((flags & PyBUF_ND) == PyBUF_ND) {
        view->itemsize = item;
        view->format = (flags & PyBUF_FORMAT) ? const_cast<char*>(block.format) : nullptr;
        view->ndim = ndim;
        view->shape = layout->shape;
        // Without strides the consumer takes C order, which the block is in.
        view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? layout->strides : nullptr;
    } else {
        // A consumer that asks for no shape reads plain bytes (as PyBuffer_FillInfo gives them).
        view->itemsize = 1;
        view->format = (flags & PyBUF_FORMAT) ? const_cast<char*>("B") : nullptr;
        view->ndim = 1;
        view->shape = nullptr;
        view->strides = nullptr;
    }
    view->suboffsets = nullptr;
    view->internal = layout;
}

namespace {

constexpr bool little_endian = std::endian::native == std::endian::little;

[[noreturn]] void unreadable(const char* call, const char* format) {
    PyErr_Format(PyExc_TypeError,
                 "%s cannot read elements of format '%s': expected float64, float32 or integers, in native "
                 "byte order",
                 call, format);
    throw PythonError{};
}

}  // namespace

std::optional<ElementFormat> parse_element_format(const Py_buffer& view) noexcept {
    const char* code = view.format != nullptr ? view.format : "B";
    // '@' and '=' are native order; '<' or '>' only when it is the machine's own.
    if (*code == '@' || *code == '=' || *code == (little_endian ? '<' : '>')) ++code;
    if (code[0] == '\0' || code[1] != '\0') return std::nullopt;
    const auto width = static_cast<std::size_t>(view.itemsize);
    const bool integer_width = width == 1 || width == 2 || width == 4 || width == 8;
    switch (*code) {
        case 'd': return width == 8 ? std::optional(ElementFormat{ElementKind::float64, 8}) : std::nullopt;
        case 'f': return width == 4 ? std::optional(ElementFormat{ElementKind::float32, 4}) : std::nullopt;
        case 'b': case 'h': case 'i': case 'l': case 'q': case 'n':
            return integer_width ? std::optional(ElementFormat{ElementKind::signed_integer, width}) : std::nullopt;
        case 'B': case 'H': case 'I': case 'L': case 'Q': case 'N':
            return integer_width ? std::optional(ElementFormat{ElementKind::unsigned_integer, width}) : std::nullopt;
        default: return std::nullopt;
    }
}

ElementFormat element_format(const Py_buffer& view, const char* call) {
    if (std::optional<ElementFormat> format = parse_element_format(view)) return *format;
    unreadable(call, view.format != nullptr ? view.format : "B");
}

ReadBuffer::ReadBuffer(PyObject* object, int flags, const char* call) {
    if (PyObject_GetBuffer(object, &view_, flags) == 0) return;
    if (PyErr_ExceptionMatches(PyExc_ValueError) || PyErr_ExceptionMatches(PyExc_BufferError) ||
        PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyObject* reason = PyErr_GetRaisedException();
        PyErr_Format(PyExc_TypeError, "%s cannot read the buffer of '%s': %S", call, Py_TYPE(object)->tp_name, reason);
        PyObject* refusal = PyErr_GetRaisedException();
        PyException_SetCause(refusal, reason);  // steals `reason`
        PyErr_SetRaisedException(refusal);
    }
    throw PythonError{};
}

std::string ReadBuffer::shape_text() const {
    std::string text = "(";
    if (view_.ndim == 0) {
    } else if (view_.shape == nullptr) {
        text += std::to_string(view_.len / (view_.itemsize > 0 ? view_.itemsize : 1)) + ",";
    } else {
        for (int d = 0; d < view_.ndim; ++d) text += (d ? ", " : "") + std::to_string(view_.shape[d]);
        if (view_.ndim == 1) text += ",";
    }
    return text + ")";
}

}  // namespace lumeric
