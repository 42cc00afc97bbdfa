// frame/interpreter_cell.hpp: process-wide cells of Python objects, tied to the interpreter
// that made their contents.
//
// Class objects, the submodule, the internal-failure exception type and the imported
// SimpleNamespace are made once and then shared by every call. They belong to the
// interpreter that made them and must not outlive it: an embedding program may finalise
// Python and start it again in the same process, and the new interpreter must get objects
// of its own, not dangling ones.
//
// The module marks the interpreter it lives in with an entry in that interpreter's own
// dict. When the interpreter is finalised it clears that dict, late, after its modules
// are gone; the entry's destructor then releases every filled cell (and the instances
// kept for reuse) while releasing is still possible. A restarted interpreter has no
// entry yet: whatever a cell still holds at that point was made by the old interpreter
// after its release, and is forgotten without being touched.
#pragma once

#include <Python.h>

#include <atomic>

#include "frame/guard.hpp"

namespace lumeric {

class InterpreterCell {
public:
    constexpr InterpreterCell() noexcept = default;
    InterpreterCell(const InterpreterCell&) = delete;
    InterpreterCell& operator=(const InterpreterCell&) = delete;

    // The content (a borrowed reference), or nullptr while empty.
    PyObject* peek() const noexcept { return content_.load(std::memory_order_acquire); }

    // The content, made by `make` when empty: `make` returns a new reference, which the
    // cell keeps, or nullptr with the host's error set (then so does this); a C++ failure
    // of `make` becomes the host's error as at every entry point. Racing callers wait for
    // the one that makes it.
    template <class Make>
    PyObject* get_or_make(Make&& make) noexcept {
        if (PyObject* content = peek()) [[likely]] return content;
        // PyMutex detaches the thread state while it waits, so the maker can finish.
        PyMutex_Lock(&mutex_);
        PyObject* content = content_.load(std::memory_order_relaxed);
        if (content == nullptr) {
            content = guard(make);
            if (content != nullptr) fill(content);
        }
        PyMutex_Unlock(&mutex_);
        return content;
    }

    // Ties the module to the current interpreter (see the top of this file); throws
    // PythonError (ImportError) if the interpreter has no dict to hold the mark.
    static void enter_interpreter();

protected:
    // Hooks for what a cell keeps beside its content: on_release runs just before the
    // content is released, on_forget when the content belonged to an ended interpreter.
    virtual void on_release(PyObject*) noexcept {}
    virtual void on_forget() noexcept {}

private:
    void fill(PyObject* content) noexcept;
    void empty(bool release) noexcept;
    static void empty_all(bool release) noexcept;
    static void release_all(PyObject* mark) noexcept;

    std::atomic<PyObject*> content_{nullptr};
    PyMutex mutex_{};
    InterpreterCell* next_filled_ = nullptr;  // list of filled cells
};

}  // namespace lumeric
