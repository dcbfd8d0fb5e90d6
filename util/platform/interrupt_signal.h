// Interrupt signals (SIGINT from Ctrl-C, SIGTERM from kill) turned into a
// request to stop, so that a program can end its work cleanly instead of
// dying part way. The first signal only records itself; a second one of
// either kind ends the process at once, as the signal's default would.
#pragma once

#include <atomic>

namespace quarn::platform {

// Installs the handlers (once per process). From then on each caught signal
// is recorded, and `stopFlag` (when given) is set to true from the handler;
// it must live until the end of the process.
void CatchInterruptSignals(std::atomic<bool>* stopFlag);

// The number of the first interrupt signal caught, 0 when none was.
int CaughtInterruptSignal();

// Ends the process as `signalNumber` would have by default, so that a
// parent sees the signal (a shell shows 130 for SIGINT). Does not return.
[[noreturn]] void EndBySignal(int signalNumber);

}  // namespace quarn::platform
