// Filling, releasing and forgetting the interpreter-bound cells (interpreter_cell.hpp).
#include "frame/interpreter_cell.hpp"

#include "frame/errors.hpp"

namespace lumeric {

namespace {

// Every cell filled since the interpreter was entered, newest first.
std::atomic<InterpreterCell*> filled_cells{nullptr};

// The key of the mark in the interpreter's dict, also the name of the capsule holding it.
constexpr const char* mark_key = "lumeric_py.interpreter";

PyMutex enter_mutex{};

}  // namespace

void InterpreterCell::fill(PyObject* content) noexcept {
    content_.store(content, std::memory_order_release);
    next_filled_ = filled_cells.load(std::memory_order_relaxed);
    while (!filled_cells.compare_exchange_weak(next_filled_, this, std::memory_order_release,
                                               std::memory_order_relaxed)) {
    }
}

void InterpreterCell::empty(bool release) noexcept {
    PyObject* content = content_.exchange(nullptr, std::memory_order_acq_rel);
    next_filled_ = nullptr;
    if (!release) {
        on_forget();
        return;
    }
    on_release(content);
    Py_DECREF(content);
}

void InterpreterCell::empty_all(bool release) noexcept {
    InterpreterCell* cell = filled_cells.exchange(nullptr, std::memory_order_acq_rel);
    while (cell != nullptr) {
        InterpreterCell* next = cell->next_filled_;
        cell->empty(release);
        cell = next;
    }
}

void InterpreterCell::release_all(PyObject*) noexcept { empty_all(true); }

void InterpreterCell::enter_interpreter() {
    PyObject* dict = PyInterpreterState_GetDict(PyInterpreterState_Get());
    if (dict == nullptr)
        raise(PyExc_ImportError, "lumeric_py cannot be imported: the interpreter offers no place for its state");
    PyMutex_Lock(&enter_mutex);
    int status = PyDict_ContainsString(dict, mark_key);
    if (status == 0) {
        // A new interpreter: what the cells still hold, if anything, is the old one's.
        empty_all(false);
        PyObject* mark = PyCapsule_New(&filled_cells, mark_key, &release_all);
        status = mark != nullptr ? PyDict_SetItemString(dict, mark_key, mark) : -1;
        Py_XDECREF(mark);
    }
    PyMutex_Unlock(&enter_mutex);
    if (status < 0) raise_pending();
}

}  // namespace lumeric
