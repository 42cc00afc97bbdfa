// frame/interrupt.hpp: Ctrl-C (any signal whose handler raises) during a batch.
//
// The pool asks its poll hook while the calling thread waits for a batch (pool/interrupt.hpp).
// The module's hook runs the interpreter's pending signal handlers there, on the thread that
// holds the interpreter lock throughout the call; a handler that raised (KeyboardInterrupt for
// Ctrl-C) stops the batch, and its exception is what the call raises once the pieces that had
// started have ended. A call that holds its receiver exclusively (an in-place change) runs
// its batches to the end: the handlers then run when the call has returned, as for any call.
#pragma once

namespace lumeric {

// Installs the hook; called when the module is executed.
void stop_batches_on_signals() noexcept;

}  // namespace lumeric
