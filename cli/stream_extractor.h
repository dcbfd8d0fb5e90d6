// Writes found streams out as files, while the scan runs: each accepted
// stream is inflated again from the very mapping the scan read, so a file
// renamed, replaced or cut short under the scan can never give another
// file's data.
//
// Names say where a stream came from: the source file's cleaned name (its
// stem), the offset where the stream starts (its zlib header, or the first
// deflate byte of raw deflate) in hex, and the kind
// ("firmware.bin@0x1a2b3c.zlib"). Every entry of the file list gets its own
// stem, unique after cleaning across the whole run, so no two streams of a
// run ever share a name and a file written by the run is never replaced.
// A file is linked under its name only when it is whole and matches what
// the scan counted: an interrupted or failed extraction leaves nothing.
#pragma once

#include <atomic>
#include <mutex>
#include <set>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/nested_streams.h"
#include "engine/scan_control.h"
#include "engine/stream_detector.h"
#include "util/errors.h"
#include "util/mapped_file.h"

namespace quarn::cli {

struct TExtractOptions {
  std::string Directory;
  uint64_t MinSizeBytes = 0;  // streams that inflate to fewer bytes are not written
  bool Force = false;         // replace files that were in the directory before the run
  bool NameByEntry = false;   // a zip entry's stream is named after the entry
};

// The cleaned base name of a source: bytes that are not printable ASCII, a
// '/' or '\' become '_', a leading '.' gets a '_' before it (a name can
// neither leave the directory nor be hidden), and the result is cut to 200
// bytes, leaving room for the suffixes within the 255 bytes of a name.
std::string CleanedBaseName(const std::string& sourcePath);

// One stem per entry of `files`, in list order: the cleaned base name, or,
// when an earlier entry already has that stem, the first free of
// "name~2", "name~3", ... Stable from run to run for the same list.
std::vector<std::string> PlanStems(const std::vector<std::string>& files);

// "stem@0x1a2b3c.zlib" (".raw" without a header). Since neither the hex
// offset nor the kind holds an '@', distinct stems give distinct names.
std::string ExtractedFileName(const std::string& stem, int64_t startBytes, bool hasHeader);

// "stem@0x1a2b:0x40:0x9.raw" for the stream nested in a stream of the
// source at the chain {0x1a2b, 0x40, 0x9} (nested_streams.h).
std::string NestedFileName(const std::string& stem, const TChain& chain, bool hasHeader);

// "stem@dir_name.txt" for a zip entry named "dir/name.txt": the entry's
// name cleaned as base names are, but whole, its '/' and '\' made '_', the
// whole name held to 255 bytes.
std::string EntryFileName(const std::string& stem, const std::string& entryName);

// A stream that was found but could not be written: its name is taken
// (without Force) or the directory cannot take it (full, read-only, gone).
// The source was read as it should be, so the scan's counts stand; only
// the stream is missing from the directory.
class TExtractError : public TQuarnError {
 public:
  using TQuarnError::TQuarnError;
};

class TStreamExtractor {
 public:
  // Makes the directory when missing. Raises TQuarnError naming it when it
  // cannot be made or is not a directory. With `control`, a stream being
  // written when the scan is asked to stop is dropped (TScanCancelled).
  TStreamExtractor(const std::vector<std::string>& files, TExtractOptions options,
                   const TScanControl* control = nullptr);

  // Writes `stream`, found in `file` (entry `fileIndex` of the list), when
  // it inflates to at least MinSizeBytes. Inflates it exactly as the scan's
  // trial did and checks that the same numbers of bytes were consumed and
  // produced, with the same ending. Writes nothing, and raises TQuarnError
  // when they differ or the source changed ("File "x" changed while ..."),
  // or TExtractError when the name exists already without Force ("File "y"
  // already exists; use --force to replace it.") or on a write failure
  // ("Cannot write "y": reason"). Then writes the streams nested in it
  // that no limit stopped at, named by their chain (NestedFileName), each
  // level inflated again from the one above and checked the same way.
  // Safe to call from several threads at once.
  void Extract(int32_t fileIndex, const TMappedFile& file, const TFoundStream& stream);

  // The path of the file that `stream` of entry `fileIndex` is written to:
  // named after its offset, or with NameByEntry after its zip entry, made
  // unique across the run by the offset where an earlier stream has the
  // name.
  std::string PathFor(int32_t fileIndex, const TFoundStream& stream);

  // Whether names need each stream's container (NameByEntry).
  bool WantsContainers() const { return options_.NameByEntry; }

  // What is on disk: streams and bytes linked under their names.
  int64_t StreamsWritten() const { return streamsWritten_.load(); }
  int64_t BytesWritten() const { return bytesWritten_.load(); }

 private:
  // Inflates `stream` of `block` to `output` as the scan's trial did, and
  // raises TFileChangedError (naming `file`) when it ends otherwise.
  static void Replay(TBlock block, const TFoundStream& stream, TInflatedBytes& output, const TMappedFile& file);
  // Writes `stream` of `block` to `path`, linked only once whole and checked.
  void Write(TBlock block, const TFoundStream& stream, const std::string& path, const TMappedFile& file);
  // Writes the streams nested in `stream`, whose inflated bytes are
  // `parent` and whose chain is `chain`, and theirs in turn.
  void WriteNested(int32_t fileIndex, TBlock parent, const TFoundStream& stream, TChain& chain, const TMappedFile& file);

  const TExtractOptions options_;
  const TScanControl* const control_;
  const std::vector<std::string> stems_;
  std::mutex entryNamesLock_;
  std::set<std::string> entryNames_;  // with NameByEntry: every name given so far
  std::atomic<int64_t> streamsWritten_{0};
  std::atomic<int64_t> bytesWritten_{0};
};

}  // namespace quarn::cli
