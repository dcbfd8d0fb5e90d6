// One file's run: claim the next entry of the scan's file list, map it,
// scan it with ScanBlock, count its size, release everything.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/scan_sink.h"
#include "engine/scan_state.h"
#include "engine/stream_detector.h"
#include "util/mapped_file.h"

namespace quarn {

class TWorkQueue;  // the parallel loop's queue of posted work

// One run over `files`, the list that the whole scan shares. Takes its
// file through an atomic increment of `state.j` (the iteration number is
// not used), adds the file's size to `state.i` once it is scanned, and
// raises TQuarnError when the file is missing, cannot be read, or was cut
// short while it was scanned; a file that fails adds nothing to `i`
// (streams it counted before the failure stay counted). A sink that
// handles the failure (FileFailed) keeps it from raising; a sink whose
// StreamFound says no more requests the stop in `state.Control`. Raises
// TScanCancelled, before or during its file, when the stop is requested in
// `state.Control` (during the file, through FileFailed like any failure);
// counts the file as done there when it ends without an error. With
// `helpers`, a large file is cut into chunks that idle workers of the loop
// scan with it; the result is the same.
void ScanFile(const std::vector<std::string>& files, TScanState& state, int32_t iteration,
              TScanSink* sink = nullptr, TWorkQueue* helpers = nullptr);

}  // namespace quarn
