// Which container a found stream sits in, read from the bytes around it:
// a zip entry or a gzip member (raw deflate whose header ends where the
// stream starts), a PNG chunk, a PDF object, a loose git object or an
// entry of a git pack. Every kind is checked against the stream (where its
// data starts, what it inflates to); where nothing fits, there is none.
//
// The finder is asked about every stream of a file, which can be millions,
// so it never searches the file again for each: it looks backward only as
// far as the gap since the previous stream (and a kind's own reach), and
// keeps what spans many streams (the last PNG and how far its chunks have
// been walked, the last git pack, the last gzip member's end) from one
// call to the next. Over a file its work is about one pass over the gaps.
#pragma once

#include <cstdint>
#include <optional>

#include "engine/block_view.h"
#include "engine/container.h"
#include "engine/found_stream.h"
#include "inflate/inflate_record.h"

namespace quarn {

// Finds the container of each stream of one block, the streams given in
// order of OffsetBytes (they may overlap). For one thread.
class TContainerFinder {
 public:
  explicit TContainerFinder(TBlock block);

  // The container `stream` sits in, or nullopt where none is recognised.
  // Reads only inside the block, whatever its bytes.
  std::optional<TContainer> Find(const TFoundStream& stream);
  // Find, kept in the stream itself (TFoundStream::Container).
  void Place(TFoundStream& stream);

 private:
  // The positions before `start` that may hold this stream's container:
  // after the previous stream (or past its start, when it runs over
  // `start`), at most `reachBytes` back.
  int64_t GapFrom(int64_t start, int64_t reachBytes) const;
  void NoteSignatures(int64_t from, int64_t to);

  std::optional<TContainer> FindZip(const TFoundStream& stream);
  std::optional<TContainer> FindGzip(const TFoundStream& stream);
  std::optional<TContainer> FindPng(const TFoundStream& stream);
  std::optional<TContainer> FindPdf(const TFoundStream& stream);
  std::optional<TContainer> FindPackEntry(const TFoundStream& stream);
  std::optional<TContainer> FindLooseObject(const TFoundStream& stream);

  TBlock block_;

  // The previous stream handed to Find, for the gap before the next one.
  bool seenStream_ = false;
  int64_t previousStart_ = 0;
  int64_t previousEnd_ = 0;  // after its deflate data and, for zlib, its trailer
  bool previousWasZlib_ = false;

  // The last gzip member found, to number the members of a run.
  int64_t gzipMemberEnd_ = -1;  // after its 8-byte trailer
  int64_t gzipIndex_ = -1;

  // The chunk walk of the last PNG signature seen: the chunk at
  // pngChunkAt_ is the first whose data does not end before the streams
  // asked about so far. The walk stops for good at IEND or at a chunk
  // that is not one.
  int64_t pngChunkAt_ = -1;
  int64_t pngChunkIndex_ = 0;
  bool pngWalking_ = false;
  bool pngAfterIdat_ = false;  // the chunk before pngChunkAt_ is an IDAT
  // Where the zlib stream of the chunk at pngStreamFor_ starts (-1: it
  // holds none), worked out once per chunk.
  int64_t pngStreamFor_ = -1;
  int64_t pngStreamAt_ = -1;

  // The last git pack signature ("PACK", version 2 or 3).
  int64_t pack_ = -1;

  // For the first inflated bytes of a stream that may be a loose object.
  TInflateRecord record_;
};

}  // namespace quarn
