// The fast inflate path: our own raw deflate decoder, asked before zlib
// whether a candidate is a complete stream.
//
// The rule: it is never more lenient than zlib. It answers "complete" only
// where zlib 1.2.13's raw inflate (32 KiB window, starting empty, called
// with Z_SYNC_FLUSH and fresh output space until it stops) would return
// Z_STREAM_END having consumed and produced the same numbers of bytes, on
// every platform and at any size: the totals are 64 bits wide, as the
// trial counts zlib's. Everything else (bad data, input that runs out,
// anything the decoder does not handle) is "don't know", and zlib decides
// as before.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include "inflate/checksum.h"
#include "inflate/inflate_watch.h"
#include "inflate/output_taker.h"

namespace quarn {

// What the fast path says of one candidate.
struct TFastInflateResult {
  bool Complete = false;  // false: "don't know", zlib must decide
  uint64_t InBytes = 0;   // when Complete: the bytes zlib consumes up to Z_STREAM_END
  uint64_t OutBytes = 0;  // when Complete: the bytes zlib produces up to Z_STREAM_END
  uint32_t Sum = 0;       // when Complete: the checksum asked for, of those bytes
};

// Output space of the decoder: the inflated bytes go here and are dropped;
// the last 32 KiB slide to the front when it fills.
inline constexpr std::size_t kFastInflateBufferBytes = std::size_t{256} << 10;

// One decoder with its output buffer and decode tables, made once per
// worker (about 300 KiB) and reused for every candidate: decoding
// allocates nothing. Not shared between threads.
class TFastInflater {
 public:
  TFastInflater();
  ~TFastInflater();
  TFastInflater(const TFastInflater&) = delete;
  TFastInflater& operator=(const TFastInflater&) = delete;

  // Decodes raw deflate data from `in`[0] on; reads only `in`[0 ..
  // `inBytes`-1] and never writes there. Complete, with the input bytes
  // consumed (up to and including the byte that holds the last bit of the
  // final block) and the bytes produced, only under the rule above;
  // otherwise a result with Complete false. `watch`, when given, hears of
  // the progress of a long decode. `checksum` names the checksum to keep
  // of the output (none by default: it costs a pass over every byte).
  // `taker`, when given, gets the output from its first byte on, piece by
  // piece as it leaves the buffer (about every 224 KiB); a decode that
  // ends without Complete leaves it with part of the output only.
  TFastInflateResult Inflate(const uint8_t* in, uint64_t inBytes, TInflateWatch* watch = nullptr,
                             TChecksum checksum = TChecksum::None, TOutputTaker* taker = nullptr);

  // Forgets the block starts kept so far, and has the next Inflate (only
  // that one) keep where its blocks start.
  void KeepBlockStartsOfNextDecode();
  // The byte offsets from `in` of the blocks after the first that the last
  // Inflate reached, each where its first bit is the lowest bit of a byte,
  // in order, at most kMaxKeptBlockStarts of them; empty when that decode
  // was not armed to keep them, or when none ran since the arming. zlib's
  // inflate starts a block at each of these too: they lie before any point
  // where zlib fails.
  std::span<const uint64_t> AlignedBlockStarts() const;
  static constexpr std::size_t kMaxKeptBlockStarts = std::size_t{1} << 20;

  struct TState;

 private:
  std::unique_ptr<TState> state_;
};

// The calling thread's decoder, made on first use; for workers that are
// handed no decoder of their own.
TFastInflater& ThreadFastInflater();

}  // namespace quarn
