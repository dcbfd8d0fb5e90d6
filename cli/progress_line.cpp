// The progress line: a thread that redraws one line on stderr five times a
// second from counters the scan's workers bump, started only when stderr
// is a terminal, and cleared before the report is printed.
#include "cli/progress_line.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "cli/output.h"
#include "engine/time_left.h"
#include "util/platform/terminal.h"

namespace quarn::cli {
namespace {

constexpr auto kInterval = std::chrono::milliseconds(200);  // five updates a second

double Mebibytes(int64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

}  // namespace

std::string FormatTimeLeft(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0 || seconds > 1e8) return "-";
  const auto whole = static_cast<long long>(std::ceil(seconds));
  char text[48];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  }
  return text;
}

TProgressLine::TProgressLine(const TScanControl& control, bool shown) : control_(control) {
  if (shown && platform::StandardErrorIsTerminal()) {
    sharesTerminal_ = platform::StandardOutputIsTerminal();
    thread_ = std::thread([this] { Run(); });
  }
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

void TProgressLine::Message(const std::string& line) {
  const std::lock_guard<std::mutex> hold(lock_);
  if (shown_) std::fputs("\r\033[K", stderr);
  std::fputs((line + "\n").c_str(), stderr);
  std::fflush(stderr);
}

void TProgressLine::WriteAbove(const std::function<void()>& write) {
  if (!sharesTerminal_) {
    write();
    return;
  }
  const std::lock_guard<std::mutex> hold(lock_);
  if (shown_) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;  // drawn again at the next update, below what was written
  }
  write();
  FlushOut();
}

void TProgressLine::Run() {
  const auto start = std::chrono::steady_clock::now();
  TTimeLeft timeLeft;  // by the average since the start: the line shows that rate beside it
  std::unique_lock<std::mutex> hold(lock_);
  while (!wake_.wait_for(hold, kInterval, [this] { return stopping_; })) {
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const TScanProgress now = control_.Progress();
    timeLeft.Add(elapsed, now.BytesScanned);
    const double left = timeLeft.SecondsLeftByAverage(now.BytesTotal).value_or(-1.0);
    std::fprintf(stderr, "\r\033[K%lld/%lld files, %.1f/%.1f MiB, %.1f MiB/s, %s left",
                 static_cast<long long>(now.FilesDone), static_cast<long long>(now.FilesTotal),
                 Mebibytes(now.BytesScanned), Mebibytes(now.BytesTotal), timeLeft.BytesPerSecond() / (1024.0 * 1024.0),
                 FormatTimeLeft(left).c_str());
    std::fflush(stderr);
    shown_ = true;
  }
  if (shown_) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
  }
}

namespace {

class TAboveProgressLine final : public TReportFormat {
 public:
  TAboveProgressLine(std::unique_ptr<TReportFormat> format, TProgressLine& line)
      : format_(std::move(format)), line_(line) {}
  void Stream(const std::string& file, const TFoundStream& stream, const TChain& chain) override {
    line_.WriteAbove([&] { format_->Stream(file, stream, chain); });
  }
  void FileEnded(const TFileOutcome& outcome) override {
    line_.WriteAbove([&] { format_->FileEnded(outcome); });
  }
  void Finish(const TScanSummary& summary) override { format_->Finish(summary); }  // the line is gone by then
  bool ShowsStreams() const override { return format_->ShowsStreams(); }
  bool ShowsContentTypes() const override { return format_->ShowsContentTypes(); }

 private:
  std::unique_ptr<TReportFormat> format_;
  TProgressLine& line_;
};

}  // namespace

std::unique_ptr<TReportFormat> AboveProgressLine(std::unique_ptr<TReportFormat> format, TProgressLine& line) {
  return std::make_unique<TAboveProgressLine>(std::move(format), line);
}

}  // namespace quarn::cli
