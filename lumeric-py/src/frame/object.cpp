// Creation of the class objects, once per process.
#include "frame/object.hpp"

#include <string>

namespace lumeric {

PyTypeObject* ClassCell::create() noexcept {
    // PyMutex detaches the thread state while it waits, so the creating thread can finish.
    PyMutex_Lock(&mutex_);
    PyTypeObject* type = type_.load(std::memory_order_relaxed);
    if (type == nullptr) {
        type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(type_spec_()));
        if (type != nullptr) type_.store(type, std::memory_order_release);
    }
    PyMutex_Unlock(&mutex_);
    return type;
}

PyTypeObject* ClassCell::get_for_result() {
    if (PyTypeObject* type = get()) [[likely]] return type;
    PyErr_WriteUnraisable(nullptr);
    std::string text = std::string("failed to create type object for `") + name_ + "`";
    set_panic(text.c_str());
    throw PythonError{};
}

}  // namespace lumeric
