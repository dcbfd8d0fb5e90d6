// Thread-end work on Windows: the calling thread's list of cleanups lives
// on the heap, in a fiber-local slot (FlsAlloc) whose callback the system
// runs when the thread ends; nothing of it is in thread-local storage.
#include <windows.h>

#include <utility>
#include <vector>

#include "util/platform/thread_exit.h"

namespace quarn::platform {
namespace {

using TCleanups = std::vector<std::pair<void (*)(void*), void*>>;

void WINAPI RunCleanups(void* list) {
  if (list == nullptr) return;
  auto* cleanups = static_cast<TCleanups*>(list);
  for (const auto& [cleanup, value] : *cleanups) cleanup(value);
  delete cleanups;
}

DWORD Slot() {
  static const DWORD slot = ::FlsAlloc(RunCleanups);
  return slot;
}

}  // namespace

void AtThreadExit(void (*cleanup)(void*), void* value) {
  const DWORD slot = Slot();
  if (slot == FLS_OUT_OF_INDEXES) return;  // the work is not done: what it frees stays until the process ends
  auto* cleanups = static_cast<TCleanups*>(::FlsGetValue(slot));
  if (cleanups == nullptr) {
    cleanups = new TCleanups;
    ::FlsSetValue(slot, cleanups);
  }
  cleanups->emplace_back(cleanup, value);
}

}  // namespace quarn::platform
