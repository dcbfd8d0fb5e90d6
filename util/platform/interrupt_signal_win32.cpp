// Interrupts on Windows: Ctrl-C and Ctrl-Break, and the console being
// closed, through SetConsoleCtrlHandler. The system calls the handler on a
// thread of its own, not inside a signal: it records the request as the
// POSIX version does (Ctrl-C as SIGINT, the others as SIGTERM), calls the
// action on the first one, and lets a second one, half a second or more
// later, end the process at once.
#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "util/platform/interrupt_signal.h"

namespace quarn::platform {
namespace {

std::atomic<int> gCaught{0};
struct TAction {
  TInterruptAction Call;
  void* Context;
};
TAction gActions[2] = {};
std::atomic<TAction*> gAction{nullptr};
std::atomic<int> gNextSlot{0};

constexpr uint64_t kRepeatMilliseconds = 500;
std::atomic<uint64_t> gFirstAt{0};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  int signalNumber = SIGTERM;
  switch (event) {
    case CTRL_C_EVENT: signalNumber = SIGINT; break;
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT: break;
    default: return FALSE;  // log-off and shut-down: the system's default
  }
  int expected = 0;
  if (!gCaught.compare_exchange_strong(expected, signalNumber)) {
    if (::GetTickCount64() - gFirstAt.load() < kRepeatMilliseconds) return TRUE;
    EndBySignal(signalNumber);
  }
  gFirstAt.store(::GetTickCount64());
  if (const TAction* action = gAction.load(); action != nullptr && action->Call != nullptr) {
    action->Call(action->Context);
  }
  return TRUE;
}

}  // namespace

void CatchInterruptSignals(TInterruptAction action, void* context) {
  TAction* slot = &gActions[gNextSlot.fetch_xor(1)];
  *slot = {action, context};
  gAction.store(action != nullptr ? slot : nullptr);
  static std::once_flag once;
  std::call_once(once, [] { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); });
}

int CaughtInterruptSignal() { return gCaught.load(); }

// Windows has no death by a signal: the process ends with the status that
// an interrupted console program gets (STATUS_CONTROL_C_EXIT).
void EndBySignal(int) {
  ::ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace quarn::platform
