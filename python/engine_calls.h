// What the Python module asks of the engine, in plain C++: the scan of a
// list of files, of a block of memory, of one range of a file (for scans
// spread over many machines), the containers of a file's streams gathered
// elsewhere, and the inflation of one found stream. Nothing here knows of
// Python; quarn_module.cpp converts the arguments and releases the GIL.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/chunk_stitch.h"
#include "engine/scan_state.h"
#include "engine/stream_counts.h"
#include "engine/stream_detector.h"

namespace quarn::python {

// A stream and the index of the file it was found in.
struct TFileStream {
  int32_t FileIndex = 0;
  TFoundStream Stream;
};

struct TListScan {
  TStreamCounts Counts;
  std::vector<TFileStream> Streams;  // by file index, then offset; empty unless asked for
};

// The engine's scan of `files`, on the scan's worker pool, into `state`
// (fresh, with its Options set; its Control may stop the scan). Raises
// what the scan raises (TAggregateError when a file failed, TScanCancelled).
// With `fingerprints`, each kept stream carries its fingerprint, found on
// the worker that scanned its file.
TListScan ScanFiles(TScanState& state, const std::vector<std::string>& files, bool keepStreams,
                    bool fingerprints = false);

// The scan of one block of memory as if it were a file of that content,
// large blocks cut into chunks on the worker pool; `state` as for
// ScanFiles. The block counts as one file of `size` bytes; its kept
// streams carry their containers, as a file's do, and with `fingerprints`
// their fingerprints, found after the scan in the caller's thread. Both
// take the content types of the kept streams from Options.ContentTypes.
TListScan ScanMemory(TScanState& state, const uint8_t* memory, int64_t size, bool keepStreams,
                     bool fingerprints = false);

// One range of a file scanned as the chunked scan scans a chunk: positions
// [from, to), trials reading up to the end of the file. `FileSizeBytes` is
// the size the file had when it was mapped, so that the caller can tell a
// file that changed between two ranges. Raises TQuarnError as the file's
// run does (missing, unreadable, cut short while mapped).
struct TFileRangeScan {
  int64_t FileSizeBytes = 0;
  TRangeScan Scan;
};
TFileRangeScan ScanFileRange(const std::string& path, int64_t from, int64_t to, const TScanOptions& options);

// The containers of `streams`, all of one file, given in order of
// OffsetBytes as a scan of the whole file hands them out (those of a
// stitched range scan): each stream gets the container that the file's own
// run would give it. Returns the file's size as mapped, so that the caller
// can tell a file that changed since its ranges were scanned. Raises
// TQuarnError, changing nothing, when the streams are out of order, and
// what ScanFileRange raises for the file.
int64_t PlaceFileStreams(const std::string& path, std::vector<TFoundStream>& streams);

// The stream that a scan would accept at `offset` (a header stream when
// the two bytes before it are a zlib header; else, with `headerless`, a raw
// one), whether complete or cut short, or that a scan with proof proves
// there (also in the last 63 bytes, and a zip entry's or gzip member's
// data without `headerless`); none when nothing is found there.
std::optional<TFoundStream> StreamAt(const uint8_t* memory, int64_t size, int64_t offset, bool headerless);

// Inflates `stream` from `memory` into `out`, stopping after `outBytes`
// bytes (at most stream.OutBytes): the bytes that the scan's trial produced,
// as the extraction writes them. Returns how many bytes were written.
uint64_t InflateStream(const uint8_t* memory, int64_t size, const TFoundStream& stream, uint8_t* out,
                       uint64_t outBytes);

}  // namespace quarn::python
