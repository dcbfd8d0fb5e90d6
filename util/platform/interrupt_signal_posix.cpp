// SIGINT and SIGTERM on POSIX, with sigaction. The handler does only
// async-signal-safe work: lock-free atomic stores and, for a second signal,
// restoring the default action and raising the signal again.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <atomic>
#include <mutex>

#include "util/platform/interrupt_signal.h"

namespace quarn::platform {
namespace {

std::atomic<int> gCaught{0};
// The action and its context, swapped as one so that the handler never
// pairs an action with another's context.
struct TAction {
  TInterruptAction Call;
  void* Context;
};
TAction gActions[2] = {};
std::atomic<TAction*> gAction{nullptr};
std::atomic<int> gNextSlot{0};

// A repeat this soon after the first signal is the same request delivered
// twice (timeout(1) signals the child and then its whole group), not a
// second press of Ctrl-C.
constexpr int64_t kRepeatNanoseconds = 500'000'000;
std::atomic<int64_t> gFirstAt{0};

int64_t MonotonicNanoseconds() {
  timespec now {};
  ::clock_gettime(CLOCK_MONOTONIC, &now);  // async-signal-safe
  return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void OnInterrupt(int signalNumber) {
  int expected = 0;
  if (!gCaught.compare_exchange_strong(expected, signalNumber)) {
    if (MonotonicNanoseconds() - gFirstAt.load() < kRepeatNanoseconds) return;
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
    return;
  }
  gFirstAt.store(MonotonicNanoseconds());
  if (const TAction* action = gAction.load(); action != nullptr && action->Call != nullptr) {
    action->Call(action->Context);
  }
}

}  // namespace

void CatchInterruptSignals(TInterruptAction action, void* context) {
  static_assert(std::atomic<TAction*>::is_always_lock_free && std::atomic<int>::is_always_lock_free);
  // Two slots, used in turn: the one written is never the one published.
  TAction* slot = &gActions[gNextSlot.fetch_xor(1)];
  *slot = {action, context};
  gAction.store(action != nullptr ? slot : nullptr);
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction handler {};
    handler.sa_handler = OnInterrupt;
    sigemptyset(&handler.sa_mask);
    handler.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &handler, nullptr);
    ::sigaction(SIGTERM, &handler, nullptr);
  });
}

int CaughtInterruptSignal() { return gCaught.load(); }

void EndBySignal(int signalNumber) {
  ::signal(signalNumber, SIG_DFL);
  ::raise(signalNumber);
  std::_Exit(128 + signalNumber);
}

}  // namespace quarn::platform
