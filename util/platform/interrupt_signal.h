// Interrupt signals (SIGINT from Ctrl-C, SIGTERM from kill) turned into a
// request to stop, so that a program can end its work cleanly instead of
// dying part way. The first signal only records itself; a second one of
// either kind, half a second or more later, ends the process at once, as
// the signal's default would (one sooner is the first one delivered twice).
// One implementation per platform: interrupt_signal_posix.cpp (sigaction)
// and interrupt_signal_win32.cpp (SetConsoleCtrlHandler: Ctrl-C stands for
// SIGINT, Ctrl-Break and the console's closing for SIGTERM).
#pragma once

namespace quarn::platform {

// What the handler calls on the first signal. It runs inside the signal
// handler: it may only do async-signal-safe work (a lock-free atomic store).
using TInterruptAction = void (*)(void* context) noexcept;

// Installs the handlers (once per process). From then on each caught signal
// is recorded, and `action`(`context`), when given, is called on the first
// one. A later call replaces the action; null removes it.
void CatchInterruptSignals(TInterruptAction action, void* context);

// The number of the first interrupt signal caught, 0 when none was.
int CaughtInterruptSignal();

// Ends the process as `signalNumber` would have by default, so that a
// parent sees the signal (a shell shows 130 for SIGINT); on Windows, with
// the status of a console program stopped by Ctrl-C (0xC000013A). Does not
// return.
[[noreturn]] void EndBySignal(int signalNumber);

}  // namespace quarn::platform
