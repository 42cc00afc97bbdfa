// frame/result_view.cpp: the holder class of array results and its buffer export.
#include "frame/result_view.hpp"

#include <unistd.h>

#include <algorithm>
#include <new>

#include "frame/buffer.hpp"
#include "frame/guard.hpp"

namespace lumeric {

namespace {

int get_buffer(PyObject* self, Py_buffer* view, int flags) noexcept {
    view->obj = nullptr;
    return guard<int>(-1, [&] {
        if ((flags & PyBUF_WRITABLE) == PyBUF_WRITABLE) raise(PyExc_BufferError, read_only_buffer);
        const NumberArray& array = object_cast<NumberArray>(self)->value;
        fill_view(self, view, flags, {array.items.get(), array.rows, array.columns, array.format});
        return 0;
    });
}

void release_buffer(PyObject*, Py_buffer* view) noexcept { PyMem_Free(view->internal); }

PyType_Slot number_array_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<NumberArray>)},
    {Py_tp_doc, const_cast<char*>("The numbers behind a memoryview result.")},
    {Py_bf_getbuffer, reinterpret_cast<void*>(&get_buffer)},
    {Py_bf_releasebuffer, reinterpret_cast<void*>(&release_buffer)},
    {0, nullptr},
};

}  // namespace

PyType_Spec* number_array_spec() {
    static PyType_Spec type_spec{.name = "builtins.NumberArray",
                                 .basicsize = static_cast<int>(sizeof(Object<NumberArray>)),
                                 .itemsize = 0,
                                 .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                                 .slots = number_array_slots};
    return &type_spec;
}

namespace {

// Half the physical memory, and also every size a view can describe in bytes, and no more.
std::size_t room_limit() {
    static const std::size_t memory = [] {
        const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
        return pages > 0 && page > 0 ? static_cast<std::size_t>(pages) / 2 * static_cast<std::size_t>(page)
                                     : static_cast<std::size_t>(PY_SSIZE_T_MAX);
    }();
    return std::min(memory, static_cast<std::size_t>(PY_SSIZE_T_MAX));
}

[[noreturn]] void no_room() {
    PyErr_NoMemory();
    throw PythonError{};
}

}  // namespace

void require_room(std::size_t count, std::size_t size) { require_room({Extent{count, size}}); }

void require_room(std::initializer_list<Extent> arrays) {
    std::size_t left = room_limit();
    for (const Extent& array : arrays) {
        if (array.size != 0 && array.count > left / array.size) no_room();
        left -= array.count * array.size;
    }
}

NumberArray new_number_array(std::size_t rows, std::size_t columns, const char* format) {
    // The shape itself (a row of `columns`) must be describable even with no rows.
    const std::size_t width = columns == 0 ? 1 : columns;
    require_room(width, 8);
    require_room(rows, width * 8);
    std::uint64_t* items = new (std::nothrow) std::uint64_t[rows * width];
    if (items == nullptr) {
        PyErr_NoMemory();
        throw PythonError{};
    }
    return {std::unique_ptr<std::uint64_t[]>(items), rows, columns, format};
}

Ref number_array_view(NumberArray array) {
    const Ref holder = steal(new_object<NumberArray>(std::move(array)));
    return steal(PyMemoryView_FromObject(holder.get()));
}

}  // namespace lumeric
