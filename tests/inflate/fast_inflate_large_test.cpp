// A stream whose output passes 4 GiB: zlib's counters on this platform
// hold its totals, and the fast path must give them exactly (where they
// are 32 bits wide, it must hand the stream back to zlib). Slow: zlib
// inflates the 4 GiB once, so the sanitizer trees leave it out.
#include <gtest/gtest.h>
#include <zlib.h>

#include "inflate/fast_inflate.h"
#include "tests/support/deflate_bits.h"

namespace quarn {
namespace {

TEST(FastInflateLarge, OutputPast4GiB) {
  constexpr uint64_t kOutput = (uint64_t{1} << 32) + 12345;
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
  TFastInflater inflater;
  const TFastInflateResult fast = inflater.Inflate(w.Bytes().data(), w.Bytes().size());
  if (sizeof(uLong) >= 8) {
    EXPECT_EQ(zlib.totalOut, kOutput);
    ASSERT_TRUE(fast.Complete);
    EXPECT_EQ(fast.InBytes, zlib.totalIn);
    EXPECT_EQ(fast.OutBytes, zlib.totalOut);
    EXPECT_EQ(fast.InBytes, w.Bytes().size());
  } else {
    EXPECT_FALSE(fast.Complete);
  }
}

}  // namespace
}  // namespace quarn
