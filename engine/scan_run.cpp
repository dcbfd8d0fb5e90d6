// The run of a scan over its file list, and the expansion of names into
// that list.
#include "engine/scan_run.h"

#include <algorithm>
#include <limits>

#include "engine/aggregate_error.h"
#include "engine/parallel_loop.h"
#include "engine/scan_file.h"
#include "util/errors.h"
#include "util/mapped_file.h"
#include "util/platform/file_system.h"

namespace quarn {

TNameListing ListNames(const std::vector<std::string>& names, const TListOptions& options) {
  TNameListing listing;
  for (const std::string& name : names) {
    if (options.StandardInput && name == "-") {
      listing.Files.push_back(platform::StandardInputName());
      continue;
    }
    if (!IsExistingDirectory(name)) {
      listing.Files.push_back(name);  // a name that is no file fails in its run
      continue;
    }
    try {
      const std::vector<std::string> listed = ListDirectoryFiles(name, options.Recursive, &listing.Notes);
      listing.Files.insert(listing.Files.end(), listed.begin(), listed.end());
    } catch (const TQuarnError&) {
      if (!options.KeepGoing) throw;
      listing.Failures.push_back({name, std::current_exception()});
    }
  }
  LeaveOutSameFiles(listing.Files, &listing.Notes);
  return listing;
}

TScanThreads ScanThreadsFor(int32_t files, int requested) {
  TScanThreads policy;
  policy.Threads = requested > 0 ? requested : 2 * platform::ProcessorCount();
  policy.FilesAtOnce = static_cast<int>(std::clamp<int64_t>(files, 0, policy.Threads));
  return policy;
}

void RunScan(const std::vector<std::string>& files, TScanState& state, TScanSink* sink, int threads) {
  const std::size_t entries = files.size();
  if (entries > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
    throw TQuarnError("Too many files to scan: " + std::to_string(entries));
  }
  const auto count = static_cast<int32_t>(entries);
  int64_t totalBytes = 0;
  for (const std::string& name : files) {
    if (state.Control.CancelRequested()) break;
    totalBytes += std::max<int64_t>(GetFileSize64(name), 0);
  }
  state.Control.SetTotals(count, totalBytes);

  const TScanThreads policy = ScanThreadsFor(count, threads);
  TWorkQueue helpers;
  try {
    RunParallelLoop(
        count, policy.FilesAtOnce, [&](int32_t iteration) { ScanFile(files, state, iteration, sink, &helpers); },
        &helpers, policy.Threads);
  } catch (const TAggregateError&) {
    // Files that failed before the stop are no news once the scan was stopped.
    state.Control.ThrowIfCancelled();
    throw;
  }
  state.Control.ThrowIfCancelled();
}

}  // namespace quarn
