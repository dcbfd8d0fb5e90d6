// SIGINT and SIGTERM on POSIX, with sigaction. The handler does only
// async-signal-safe work: lock-free atomic stores and, for a second signal,
// restoring the default action and raising the signal again.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "util/platform/interrupt_signal.h"

namespace quarn::platform {
namespace {

std::atomic<int> gCaught{0};
std::atomic<std::atomic<bool>*> gStopFlag{nullptr};

void OnInterrupt(int signalNumber) {
  int expected = 0;
  if (!gCaught.compare_exchange_strong(expected, signalNumber)) {
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
    return;
  }
  if (std::atomic<bool>* flag = gStopFlag.load()) flag->store(true);
}

}  // namespace

void CatchInterruptSignals(std::atomic<bool>* stopFlag) {
  static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);
  gStopFlag.store(stopFlag);
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
  });
}

int CaughtInterruptSignal() { return gCaught.load(); }

void EndBySignal(int signalNumber) {
  ::signal(signalNumber, SIG_DFL);
  ::raise(signalNumber);
  std::_Exit(128 + signalNumber);
}

}  // namespace quarn::platform
