// The progress line: a thread that redraws one line on stderr five times a
// second from counters the scan's workers bump, started only when stderr
// is a terminal, and cleared before the report is printed.
#include "cli/progress_line.h"

#include <chrono>
#include <cstdio>

#include "util/platform/terminal.h"

namespace quarn::cli {
namespace {

constexpr auto kInterval = std::chrono::milliseconds(200);  // five updates a second

double Mebibytes(int64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

}  // namespace

TProgressLine::TProgressLine(int64_t totalFiles, int64_t totalBytes)
    : totalFiles_(totalFiles), totalBytes_(totalBytes) {
  if (platform::StandardErrorIsTerminal()) thread_ = std::thread([this] { Run(); });
}

TProgressLine::~TProgressLine() { Stop(); }

void TProgressLine::Stop() {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void TProgressLine::Run() {
  const auto start = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> hold(lock_);
  while (!wake_.wait_for(hold, kInterval, [this] { return stopping_; })) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const int64_t bytes = bytesDone_.load(std::memory_order_relaxed);
    std::fprintf(stderr, "\r\033[K%lld/%lld files, %.1f/%.1f MiB, %.1f MiB/s",
                 static_cast<long long>(filesDone_.load(std::memory_order_relaxed)),
                 static_cast<long long>(totalFiles_), Mebibytes(bytes), Mebibytes(totalBytes_),
                 seconds > 0 ? Mebibytes(bytes) / seconds : 0.0);
    std::fflush(stderr);
    shown_ = true;
  }
  if (shown_) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
  }
}

}  // namespace quarn::cli
