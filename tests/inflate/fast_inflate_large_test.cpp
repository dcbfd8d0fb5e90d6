// A stream whose output passes 4 GiB: the fast path decides it on every
// platform, with the totals zlib reaches counted in 64 bits (its own
// counters are 32 bits wide on Windows). The decoder is asked directly, so
// its own count is held, not zlib's after a hand-over. Slow: zlib inflates
// the 4 GiB once, so the sanitizer trees leave it out.
#include <gtest/gtest.h>
#include <zlib.h>

#include "inflate/fast_inflate.h"
#include "tests/support/deflate_bits.h"

namespace quarn {
namespace {

TEST(FastInflateLarge, OutputPast4GiB) {
  // Past 4 GiB by more than the decoder's buffer holds, so that the bytes
  // it has already let go of pass 4 GiB too: past it by only a few KiB,
  // they stay under 4 GiB, and a 32-bit count of them goes unnoticed.
  constexpr uint64_t kOutput = (uint64_t{1} << 32) + (uint64_t{1} << 20) + 12345;
  static_assert(kOutput - (uint64_t{1} << 32) > kFastInflateBufferBytes);
  const test::TCode litlen(test::UsualLitlenLengths());
  const test::TCode dist(test::UsualDistLengths());
  test::TBitWriter w;
  // A dynamic block of 40,000 bytes first, then the rest in a final one.
  test::Write(w, test::HeaderFor(test::UsualLitlenLengths(), test::UsualDistLengths(), false));
  test::PutRun(w, litlen, dist, 40000, 'q');
  litlen.Put(w, 256);
  test::Write(w, test::HeaderFor(test::UsualLitlenLengths(), test::UsualDistLengths(), true));
  test::PutRun(w, litlen, dist, kOutput - 40000, 'r');
  litlen.Put(w, 256);

  const test::TZlibVerdict zlib = test::ZlibVerdict(w.Bytes());
  ASSERT_EQ(zlib.code, Z_STREAM_END);
  EXPECT_EQ(zlib.totalOut, kOutput);
  EXPECT_EQ(zlib.totalIn, w.Bytes().size());
  TFastInflater inflater;
  const TFastInflateResult fast = inflater.Inflate(w.Bytes().data(), w.Bytes().size());
  ASSERT_TRUE(fast.Complete);
  EXPECT_EQ(fast.InBytes, zlib.totalIn);
  EXPECT_EQ(fast.OutBytes, zlib.totalOut);
}

}  // namespace
}  // namespace quarn
