// Putting new data in the place of a stream: a copy of a file in which the
// stream that starts at an offset holds other bytes, compressed to fit the
// old stream's place. The stream's own encoder and settings are tried first
// (its fingerprint), then the known encoders from the strongest down; the
// first result that fits is taken. A zlib stream keeps its header's first
// byte (and so its window, CINFO), gets the FLEVEL its new encoder writes,
// and the new data's Adler-32. The bytes of the old place past the new end
// stay as they were.
//
// The copy is written beside its final name and moved there only once it is
// whole and its stream has been inflated back to the new data in memory;
// afterwards the written file is read at the offset and checked again. The
// source is only read, and a copy never replaces an existing file.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/block_view.h"
#include "engine/container.h"
#include "engine/found_stream.h"
#include "util/errors.h"

namespace quarn {

// Nothing was written: there is no stream at the offset, the new data does
// not fit, the copy could not be written or did not read back.
class TReplaceError : public TQuarnError {
 public:
  using TQuarnError::TQuarnError;
};

struct TReplacement {
  TFoundStream Stream;              // the stream replaced, as the scan finds it in the source
  TEncoderSettings Settings;        // what compressed the new data
  bool OwnSettings = false;         // the stream's own, from its fingerprint
  uint64_t PlaceBytes = 0;          // bytes of the old stream, a zlib stream's header and trailer too
  uint64_t NewBytes = 0;            // bytes written there, from the stream's start
  std::vector<uint8_t> Bytes;       // those bytes
  std::shared_ptr<const TContainer> Container;  // where the stream sits, when the bytes show it
};

// The replacement of the stream that starts at `startBytes` of `source`
// (its zlib header's first byte, or the first byte of raw deflate data, as
// quarn-scan lists it) by `data`, checked in memory: the new bytes inflate
// to `data` exactly. Raises TReplaceError when no complete stream starts
// there, or when no encoder makes the data small enough: the message names
// the best result's encoder and by how many bytes it is too big.
TReplacement PlanReplacement(TBlock source, int64_t startBytes, std::span<const uint8_t> data);

// Where a kind of container keeps records of its data that the replacement
// makes wrong (sizes, checksums): a sentence to show the user, empty for
// none.
std::string ContainerRecordsNote(const TContainer& container);

// Writes the copy of `sourcePath` with the replacement to `outPath` and
// checks it by inflating the stream at `startBytes` of the written file.
// Raises TReplaceError (nothing written) as PlanReplacement does, when
// `outPath` exists, or when it cannot be written; TQuarnError for a source
// that cannot be read.
TReplacement ReplaceStreamInFile(const std::string& sourcePath, int64_t startBytes, std::span<const uint8_t> data,
                                 const std::string& outPath);

}  // namespace quarn
