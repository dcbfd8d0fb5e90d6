// The thread of a background scan. Whatever the work raises is kept and
// raised again on the thread that asks for it, after the end.
#include "engine/background_scan.h"

namespace quarn {

TBackgroundScan::TBackgroundScan(std::function<void()> work) {
  thread_ = std::thread([this, work = std::move(work)] {
    std::exception_ptr error;
    try {
      work();
    } catch (...) {
      error = std::current_exception();
    }
    {
      const std::lock_guard<std::mutex> hold(lock_);
      error_ = error;
      done_ = true;
    }
    ended_.notify_all();
  });
}

TBackgroundScan::~TBackgroundScan() {
  if (thread_.joinable()) thread_.join();
}

bool TBackgroundScan::Ended() const {
  const std::lock_guard<std::mutex> hold(lock_);
  return done_;
}

bool TBackgroundScan::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(lock_);
  return ended_.wait_for(hold, timeout, [this] { return done_; });
}

void TBackgroundScan::Wait() {
  std::unique_lock<std::mutex> hold(lock_);
  ended_.wait(hold, [this] { return done_; });
}

void TBackgroundScan::RethrowError() {
  Wait();
  if (error_) std::rethrow_exception(error_);
}

}  // namespace quarn
