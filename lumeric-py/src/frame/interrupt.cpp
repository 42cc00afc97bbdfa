// frame/interrupt.cpp: the pool's poll hook, which runs the interpreter's signal handlers.
#include "frame/interrupt.hpp"

#include <Python.h>

#include "pool/interrupt.hpp"

namespace lumeric {

namespace {

// Only a thread holding the interpreter lock may run handlers (a batch started from plain
// C++ has none to run); the interpreter runs them on its main thread only.
bool run_signal_handlers() noexcept { return PyGILState_Check() && PyErr_CheckSignals() < 0; }

}  // namespace

void stop_batches_on_signals() noexcept { pool::set_poll_hook(&run_signal_handlers); }

}  // namespace lumeric
