// Thread-end work on POSIX: a thread_local list whose destructor runs it.
#include <utility>
#include <vector>

#include "util/platform/thread_exit.h"

namespace quarn::platform {
namespace {

class TThreadExitList {
 public:
  ~TThreadExitList() {
    for (const auto& [cleanup, value] : cleanups_) cleanup(value);
  }
  void Add(void (*cleanup)(void*), void* value) { cleanups_.emplace_back(cleanup, value); }

 private:
  std::vector<std::pair<void (*)(void*), void*>> cleanups_;
};

}  // namespace

void AtThreadExit(void (*cleanup)(void*), void* value) {
  thread_local TThreadExitList list;
  list.Add(cleanup, value);
}

}  // namespace quarn::platform
