// quarn-scan's scan: the same file runs, totals and report as the window,
// with the streams collected through the engine's listener for --list.
#include "cli/scan_command.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>

#include "cli/output.h"
#include "cli/progress_line.h"
#include "cli/stream_extractor.h"
#include "engine/directory_listing.h"
#include "engine/scan_driver.h"
#include "engine/scan_report.h"
#include "util/platform/file_system.h"

namespace quarn::cli {
namespace {

struct TListedStream {
  int32_t FileIndex;
  TFoundStream Stream;
};

// Collects the streams for --list and feeds the progress line.
class TCollector final : public TScanListener {
 public:
  TCollector(bool keepStreams, TProgressLine& progress) : keepStreams_(keepStreams), progress_(progress) {}
  void StreamFound(int32_t fileIndex, const TMappedFile&, const TFoundStream& stream) override {
    if (!keepStreams_) return;
    const std::lock_guard<std::mutex> hold(lock_);
    streams_.push_back({fileIndex, stream});
  }
  bool WantsStreams() const override { return keepStreams_; }
  void FileDone(int32_t, int64_t sizeBytes) override { progress_.FileDone(sizeBytes); }

  // In file-list order, then by offset.
  std::vector<TListedStream> TakeSorted() {
    std::sort(streams_.begin(), streams_.end(), [](const TListedStream& a, const TListedStream& b) {
      return a.FileIndex != b.FileIndex ? a.FileIndex < b.FileIndex : a.Stream.OffsetBytes < b.Stream.OffsetBytes;
    });
    return std::move(streams_);
  }

 private:
  const bool keepStreams_;
  TProgressLine& progress_;
  std::mutex lock_;
  std::vector<TListedStream> streams_;
};

// What listings left out goes to standard error: one line for all the
// devices, sockets and pipes, one line for each loop not entered.
void ReportListingNotes(const TListingNotes& notes) {
  if (!notes.SpecialsSkipped.empty()) {
    std::fprintf(stderr, "quarn-scan: left out %zu entries that are not regular files (character devices, sockets, pipes), the first \"%s\"\n",
                 notes.SpecialsSkipped.size(), notes.SpecialsSkipped.front().c_str());
  }
  for (const std::string& loop : notes.LoopsSkipped) {
    std::fprintf(stderr, "quarn-scan: not entering \"%s\": it leads back to a folder above it\n", loop.c_str());
  }
}

std::vector<std::string> BuildFileListFromPaths(const TCommandLine& options) {
  std::vector<std::string> files;
  TListingNotes notes;
  for (const std::string& path : options.Paths) {
    if (path == "-") {
      files.push_back(platform::StandardInputName());
    } else if (IsExistingDirectory(path)) {
      const std::vector<std::string> listed = ListDirectoryFiles(path, options.Recursive, &notes);
      files.insert(files.end(), listed.begin(), listed.end());
    } else {
      files.push_back(path);  // a missing name fails in its run, as in the window
    }
  }
  ReportListingNotes(notes);
  return files;
}

std::string KindText(const TFoundStream& s) { return s.HasHeader ? "zlib" : "raw"; }

void PrintStreamRows(const std::vector<std::string>& files, const std::vector<TListedStream>& streams) {
  WriteOut("file\toffset\tkind\twindow_bits\tflevel\tcompressed_bytes\tinflated_bytes\n");
  for (const TListedStream& item : streams) {
    const TFoundStream& s = item.Stream;
    const std::string windowBits = s.HasHeader ? std::to_string(s.CINFO + 8) : "-";
    const std::string flevel = s.HasHeader ? std::to_string(s.FLEVEL) : "-";
    WriteOut(files[static_cast<std::size_t>(item.FileIndex)] + "\t" + std::to_string(s.OffsetBytes) + "\t" +
             KindText(s) + "\t" + windowBits + "\t" + flevel + "\t" + std::to_string(s.InBytes) + "\t" +
             std::to_string(s.OutBytes) + "\n");
  }
}

nlohmann::ordered_json JsonReport(const std::vector<std::string>& files, const TScanState& state,
                                  const std::vector<TListedStream>* streams) {
  nlohmann::ordered_json j;
  j["files_scanned"] = files.size();
  j["input_bytes"] = state.i.load();
  j["output_bytes"] = TotalOutputSize(state);
  j["compressed_bytes"] = state.zin.load();
  j["inflated_bytes"] = state.zout.load();
  j["header_streams"] = state.Z.load();
  j["headerless_streams"] = state.hless.load();
  j["streams"] = state.Z + state.hless;
  nlohmann::ordered_json windows = nlohmann::ordered_json::object();
  for (int k = TWindowCounters::kFirst; k <= TWindowCounters::kLast; ++k) windows[std::to_string(k)] = state.w[k].load();
  j["window_bits"] = windows;
  nlohmann::ordered_json levels = nlohmann::ordered_json::object();
  for (int f = 0; f <= 3; ++f) levels[std::to_string(f)] = state.l[static_cast<std::size_t>(f)].load();
  j["flevel"] = levels;
  if (streams != nullptr) {
    nlohmann::ordered_json found = nlohmann::ordered_json::array();
    for (const TListedStream& item : *streams) {
      const TFoundStream& s = item.Stream;
      found.push_back({{"file", files[static_cast<std::size_t>(item.FileIndex)]},
                       {"offset", s.OffsetBytes},
                       {"kind", KindText(s)},
                       {"window_bits", s.HasHeader ? nlohmann::ordered_json(s.CINFO + 8) : nlohmann::ordered_json(nullptr)},
                       {"flevel", s.HasHeader ? nlohmann::ordered_json(s.FLEVEL) : nlohmann::ordered_json(nullptr)},
                       {"compressed_bytes", s.InBytes},
                       {"inflated_bytes", s.OutBytes},
                       {"complete", s.Complete}});
    }
    j["streams_found"] = found;
  }
  return j;
}

}  // namespace

void RunScanCommand(const TCommandLine& options) {
  const std::vector<std::string> files = BuildFileListFromPaths(options);

  TScanState state;
  state.j = -1;
  state.Options.Recursive = options.Recursive;
  state.Options.Headerless = options.Headerless;
  state.Options.AcceptIncomplete = options.AcceptIncomplete;

  int64_t totalBytes = 0;
  for (const std::string& name : files) totalBytes += GetFileSize64(name);
  TProgressLine progress(static_cast<int64_t>(files.size()), totalBytes);
  const bool extract = !options.ExtractDirectory.empty();
  TCollector collector(options.List || extract, progress);
  ScanFileList(files, state, &collector);
  progress.Stop();

  const std::vector<TListedStream> streams = collector.TakeSorted();
  TExtractSummary extracted;
  if (extract) {
    std::vector<TStreamToExtract> toExtract;
    toExtract.reserve(streams.size());
    for (const TListedStream& item : streams) {
      toExtract.push_back({files[static_cast<std::size_t>(item.FileIndex)], item.Stream});
    }
    extracted = ExtractStreams(toExtract, {options.ExtractDirectory, options.MinSizeBytes, options.Force});
  }
  if (options.Json) {
    const nlohmann::ordered_json j = JsonReport(files, state, options.List ? &streams : nullptr);
    // Names that are not UTF-8 are written with replacement characters.
    WriteOut(j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
  } else {
    if (options.List) PrintStreamRows(files, streams);
    const TScanReport report = BuildScanReport(state, options.Headerless, static_cast<int64_t>(files.size()));
    for (const std::string& line : report.Lines) WriteOut(line + "\n");
  }
  FlushOut();
  if (extract) {
    std::fprintf(stderr, "Wrote %lld streams, %lld bytes, to %s\n", static_cast<long long>(extracted.StreamsWritten),
                 static_cast<long long>(extracted.BytesWritten), options.ExtractDirectory.c_str());
  }
}

}  // namespace quarn::cli
