// Writes found streams out as files: each accepted stream is inflated again
// from its source and written whole to its own file in a directory.
//
// Names say where a stream came from: the source file's name, the offset of
// the first deflate byte in hex, and the kind ("firmware.bin@0x1a2b3c.zlib").
// Nothing is ever overwritten without `Force`, and no half-written file is
// left behind: each file is written under a temporary name and renamed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/stream_detector.h"

namespace quarn::cli {

struct TStreamToExtract {
  std::string SourcePath;
  TFoundStream Stream;
};

struct TExtractOptions {
  std::string Directory;
  uint64_t MinSizeBytes = 0;  // streams that inflate to fewer bytes are not written
  bool Force = false;         // replace files that already exist
};

struct TExtractSummary {
  int64_t StreamsWritten = 0;
  int64_t BytesWritten = 0;
};

// The name a stream's file gets, before any suffix that keeps two sources
// of the same name apart. Bytes that are not printable ASCII, a '/', and a
// leading '.' are replaced by '_', so a name can neither leave the
// directory nor be hidden.
std::string ExtractedFileName(const std::string& sourcePath, int64_t offsetBytes, bool hasHeader);

// Writes every stream of at least MinSizeBytes to the directory (made when
// missing). Checks every name before writing anything: a file in the way
// stops the run with an error unless Force. Raises TQuarnError naming the
// path for any failure (no space, no permission, a source that changed).
TExtractSummary ExtractStreams(const std::vector<TStreamToExtract>& streams, const TExtractOptions& options);

}  // namespace quarn::cli
