// Scans that ask for proof: streams the rule leaves out count when their
// own checksum proves them (a zlib stream's Adler-32, a gzip member's or
// zip entry's CRC-32 and sizes), near misses do not, the rule's own counts
// do not move, and a scan in chunks finds exactly what one scan finds.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "engine/chunk_stitch.h"
#include "engine/container_starts.h"
#include "engine/stream_detector.h"
#include "tests/engine/container_fixtures.h"
#include "tests/engine/detector_scan.h"
#include "tests/support/zlib_fixtures.h"

namespace quarn {
namespace {

using test::TBytes;
using test::Text;

void Append(TBytes& to, const TBytes& bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }

// A small stream: zlib at level 1 on a short text makes a fixed-code block,
// which the rule turns down below 256 KiB; the containers' data is as
// short, and fixed-coded too.
const TBytes kSmall = Text("a small fixed-code stream, a small fixed-code stream");

enum class TZipForm { Sizes, Descriptor, DescriptorNoSignature, Zip64 };

TBytes ZipEntry(const std::string& name, const TBytes& data, TZipForm form) {
  test::TZipFixture fixture;
  fixture.Name(name);
  if (form == TZipForm::Descriptor) fixture.Descriptor(test::TDescriptor::WithSignature);
  if (form == TZipForm::DescriptorNoSignature) fixture.Descriptor(test::TDescriptor::WithoutSignature);
  if (form == TZipForm::Zip64) fixture.Zip64();
  return test::ZipEntry(data, fixture).bytes;
}

TBytes GzipMember(const TBytes& data) { return test::GzipMember(data, test::TGzipFixture().Name("name.txt")).bytes; }

struct TScanned {
  TStreamCounts counts;
  std::vector<TFoundStream> streams;
};

TScanned Scan(const TBytes& bytes, bool verified, bool headerless = false) {
  TScanState state;
  state.Options.Verified = verified;
  state.Options.Headerless = headerless;
  TCollectSink sink;
  TScanner(state.Options).ScanBlock(state, {bytes.data(), static_cast<int64_t>(bytes.size())}, &sink);
  return {state.Counts(), sink.Streams};
}

// The rule's counters, which a scan for proof must leave as they are.
TStreamCounts RuleCounts(TStreamCounts counts) {
  counts.proven = {};
  counts.provenOut = 0;
  return counts;
}

struct TCase {
  const char* name;
  TBytes bytes;
  bool headerless;
  int64_t zlib, gzip, zip;  // proven beyond the rule
};

std::vector<TCase> Cases() {
  const TBytes noise = test::MakeNoise(100000, 7);
  const TBytes small = test::Zlib(kSmall, 1);
  TBytes flipped = small;
  flipped.back() ^= 0x01;  // the Adler-32 trailer's last bit

  std::vector<TCase> cases;
  cases.push_back({"a file shorter than 64 bytes", small, false, 1, 0, 0});
  TBytes tail = noise;
  Append(tail, small);  // all of it in the last 63 bytes
  cases.push_back({"a stream in the last 63 bytes", tail, false, 1, 0, 0});
  TBytes middle = noise;
  Append(middle, small);
  Append(middle, noise);
  cases.push_back({"a small fixed-code stream in noise", middle, false, 1, 0, 0});
  TBytes nearMiss = noise;
  Append(nearMiss, flipped);
  Append(nearMiss, noise);
  cases.push_back({"a trailer with one bit flipped", nearMiss, false, 0, 0, 0});
  cases.push_back({"noise alone", noise, true, 0, 0, 0});

  TBytes gzip;
  for (int k = 0; k < 3; ++k) Append(gzip, GzipMember(Text("member " + std::to_string(k) + " of three")));
  cases.push_back({"three gzip members", gzip, false, 0, 3, 0});
  TBytes badSize = GzipMember(Text("the first member"));
  Append(badSize, GzipMember(Text("the second member")));
  badSize.back() ^= 1;  // ISIZE
  cases.push_back({"a gzip member with the wrong ISIZE", badSize, false, 0, 1, 0});
  // Header CRCs (FHCRC) after a long FEXTRA, one right and one wrong.
  const test::TGzipFixture checked = test::TGzipFixture().Extra(TBytes(3000, 'x')).Name("n").HeaderCrc();
  TBytes headerCrc = test::GzipMember(Text("a member whose header has a CRC"), checked).bytes;
  TBytes badHeaderCrc = test::GzipMember(Text("a member whose header CRC is off"), checked).bytes;
  badHeaderCrc[3000 + 14] ^= 1;  // after the fixed 10 bytes, XLEN, the extra field and "n\0"
  Append(headerCrc, badHeaderCrc);
  cases.push_back({"gzip header CRCs, right and wrong", headerCrc, false, 0, 1, 0});

  TBytes zip;
  Append(zip, ZipEntry("sizes.txt", Text("entry with sizes in its header"), TZipForm::Sizes));
  Append(zip, ZipEntry("descriptor.txt", Text("entry with a data descriptor"), TZipForm::Descriptor));
  Append(zip, ZipEntry("bare.txt", Text("descriptor without its signature"), TZipForm::DescriptorNoSignature));
  Append(zip, ZipEntry("zip64.txt", Text("entry with a zip64 extra field"), TZipForm::Zip64));
  cases.push_back({"four zip entry forms", zip, false, 0, 0, 4});
  cases.push_back({"four zip entry forms, headerless", zip, true, 0, 0, 4});
  TBytes badCrc = ZipEntry("good.txt", Text("a good entry"), TZipForm::Sizes);
  TBytes bad = ZipEntry("bad.txt", Text("an entry whose CRC is off"), TZipForm::Sizes);
  bad[15] ^= 1;  // the CRC-32 field's second byte
  Append(badCrc, bad);
  cases.push_back({"a zip entry whose CRC-32 does not match", badCrc, false, 0, 0, 1});
  return cases;
}

TEST(ProvenStreams, CountBeyondTheRuleOnlyWhenTheirChecksumMatches) {
  for (const TCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    const TScanned plain = Scan(c.bytes, false, c.headerless);
    const TScanned proven = Scan(c.bytes, true, c.headerless);
    EXPECT_EQ(plain.counts.ProvenStreams(), 0);
    EXPECT_EQ(RuleCounts(proven.counts), plain.counts);
    EXPECT_EQ(proven.counts.proven[TStreamCounts::kProvenZlib], c.zlib);
    EXPECT_EQ(proven.counts.proven[TStreamCounts::kProvenGzip], c.gzip);
    EXPECT_EQ(proven.counts.proven[TStreamCounts::kProvenZip], c.zip);
    int64_t beyond = 0;
    for (const TFoundStream& s : proven.streams) {
      if (!s.BeyondRule) continue;
      ++beyond;
      EXPECT_NE(s.ProvenBy, TProof::None);
      EXPECT_TRUE(s.Complete);
    }
    EXPECT_EQ(beyond, c.zlib + c.gzip + c.zip);
  }
}

TEST(ProvenStreams, AStreamTheRuleAdmitsIsCountedOnceWithItsProof) {
  // A zip entry with a dynamic first block: the headerless rule admits its
  // data, and its record proves it; it stays one stream of the rule.
  const TBytes text = test::MakeText(200000, 3);
  const TBytes zip = test::ZipEntry(text, test::TZipFixture().Name("x")).bytes;
  ASSERT_EQ(zip[31] & 6, 4) << "the fixture needs a dynamic first block";
  const TScanned proven = Scan(zip, true, true);
  ASSERT_EQ(proven.streams.size(), 1u);
  EXPECT_FALSE(proven.streams[0].BeyondRule);
  EXPECT_EQ(proven.streams[0].ProvenBy, TProof::Crc32);
  EXPECT_EQ(proven.streams[0].ProvenIn, TContainerKind::Zip);
  EXPECT_EQ(proven.counts.hless, 1);
  EXPECT_EQ(proven.counts.ProvenStreams(), 0);
  // A header stream the rule admits is proven by its trailer.
  const TScanned zlib = Scan(test::Zlib(text, 9), true);
  ASSERT_EQ(zlib.streams.size(), 1u);
  EXPECT_EQ(zlib.streams[0].ProvenBy, TProof::Adler32);
  EXPECT_FALSE(zlib.streams[0].BeyondRule);
}

// Range scans stitched as the distributed scan stitches them: a stream of
// the rule that carries the path into the last 63 bytes leaves no chunk
// to scan them, and the stitch must still give the tiny stream there.
TEST(ProvenStreams, StitchedRangeScansTakeTheLastBytesFromTheWholePath) {
  TBytes bytes = test::MakeNoise(20000, 3);
  Append(bytes, test::Zlib(test::MakeText(30000, 5), 9));
  Append(bytes, test::Zlib(Text("a"), 1));  // 9 bytes
  bytes.resize(bytes.size() + 5, 0);
  const TBlock block{bytes.data(), static_cast<int64_t>(bytes.size())};
  const int64_t limit = PositionLimit(block.Size);
  TScanOptions options;
  options.Verified = true;
  TScanner scanner(options);
  auto scan = [&](int64_t from, int64_t to) {
    TCollectSink sink;
    const int64_t end = scanner.FindStreams(block, {from, to}, sink);
    return TRangeScan{sink.Streams, end};
  };
  const TScanned whole = Scan(bytes, true);
  ASSERT_EQ(whole.streams.size(), 2u);
  ASSERT_GT(whole.streams[0].NextPosition(), limit) << "the fixture's stream must end in the last bytes";
  for (const int64_t cut : {int64_t{1000}, int64_t{20002}, limit - 10}) {
    SCOPED_TRACE(cut);
    const TStitchResult stitched = StitchChunks({0, cut}, {scan(0, cut), scan(cut, limit)}, limit, scan);
    ASSERT_EQ(stitched.Streams.size(), whole.streams.size());
    for (std::size_t k = 0; k < whole.streams.size(); ++k) {
      EXPECT_EQ(stitched.Streams[k].OffsetBytes, whole.streams[k].OffsetBytes);
      EXPECT_EQ(stitched.Streams[k].BeyondRule, whole.streams[k].BeyondRule);
    }
  }
}

// Signatures every few bytes whose headers run on: gzip headers whose
// names (or names after extra fields of every length) do not end within
// 64 KiB, with header CRCs, and zip headers whose extra fields are
// thousands of empty records. Read one by one, each header reads up to
// 64 KiB again (8 MiB of the first kind took 14.8 s so); read as they
// are, the whole takes one pass, and a real member after them is found.
TEST(ProvenStreams, HeadersThatRunOnCostOnePass) {
  const std::size_t kBytes = std::size_t{8} << 20;
  std::vector<TBytes> patterns(3);
  for (std::size_t k = 0; patterns[0].size() < kBytes; ++k) {
    test::PutText(patterns[0], "\x1f\x8b\x08\x0a");  // FNAME and FHCRC, no zero anywhere
    const uint8_t extraLength = static_cast<uint8_t>(k * 37);
    patterns[1].insert(patterns[1].end(), {0x1f, 0x8b, 8, 0x0e, 1, 2, 3, 4, 5, 6, extraLength, static_cast<uint8_t>(k)});
  }
  for (std::size_t k = 0; k < kBytes / 65600; ++k) {
    TBytes& zip = patterns[2];
    for (int header = 0; header < 8; ++header) {  // sizes in a zip64 record that never comes
      test::PutText(zip, "PK\x03\x04");
      for (const uint64_t field : {45u, 0u, 8u, 0u, 0u, 0u}) test::PutLittle(zip, field, 2);
      test::PutLittle(zip, 0xFFFFFFFFu, 4);
      test::PutLittle(zip, 0xFFFFFFFFu, 4);
      test::PutLittle(zip, static_cast<uint64_t>(30 * (7 - header)), 2);  // names reach the zeros
      test::PutLittle(zip, 65000, 2);
    }
    zip.insert(zip.end(), 65600 - 8 * 30, 0);  // extra records of id 0, length 0
  }
  const TBytes member = GzipMember(kSmall);
  for (TBytes& bytes : patterns) {
    bytes.push_back(0);
    Append(bytes, member);
    const auto size = static_cast<int64_t>(bytes.size());
    TContainerStarts starts({bytes.data(), size}, 0);
    int64_t found = 0;
    for (int64_t below = 0; below < size + 4096; below += 4096) {  // as a scan asks, a little at a time
      while (starts.NextBelow(below)) ++found;
    }
    EXPECT_GE(found, 1);
    // Each byte is searched for both signatures and for a zero, and run
    // through the two CRCs at most once.
    EXPECT_LE(starts.BytesRead(), 5 * size);
    const TScanned proven = Scan(bytes, true);
    EXPECT_EQ(proven.counts.proven[TStreamCounts::kProvenGzip], 1);
    EXPECT_EQ(proven.counts.ProvenStreams(), 1);
  }
}

// Many small streams of every kind, cut by chunk boundaries: the scan in
// chunks hands on the very streams, in the same order, and the same totals.
TEST(ProvenStreams, ChunkedScanFindsWhatOneScanFinds) {
  TBytes bytes;
  for (uint32_t k = 0; k < 120; ++k) {
    Append(bytes, test::MakeNoise(300 + 37 * k, k));
    const TBytes text = Text("stream number " + std::to_string(k) + " with some words, some words");
    switch (k % 4) {
      case 0:
        Append(bytes, test::Zlib(text, 1));
        break;
      case 1:
        Append(bytes, GzipMember(text));
        break;
      case 2:
        Append(bytes, ZipEntry("e" + std::to_string(k), text, static_cast<TZipForm>(k / 4 % 4)));
        break;
      default:
        Append(bytes, test::Zlib(test::MakeText(3000 + k, k), 9));  // one the rule admits
        break;
    }
  }
  Append(bytes, test::Zlib(kSmall, 1));  // the last 63 bytes

  for (const bool headerless : {false, true}) {
    SCOPED_TRACE(headerless);
    const TScanned whole = Scan(bytes, true, headerless);
    EXPECT_EQ(whole.counts.proven[TStreamCounts::kProvenGzip], 30);
    EXPECT_EQ(whole.counts.proven[TStreamCounts::kProvenZip], 30);
    EXPECT_EQ(whole.counts.proven[TStreamCounts::kProvenZlib], 31);
    for (const int64_t chunkBytes : {int64_t{1000}, int64_t{4096}, int64_t{50000}}) {
      SCOPED_TRACE(chunkBytes);
      TScanState state;
      state.Options.Verified = true;
      state.Options.Headerless = headerless;
      TCollectSink sink;
      test::ScanInChunks(state, bytes, chunkBytes, &sink);
      EXPECT_EQ(state.Counts(), whole.counts);
      ASSERT_EQ(sink.Streams.size(), whole.streams.size());
      for (std::size_t s = 0; s < sink.Streams.size(); ++s) {
        EXPECT_EQ(sink.Streams[s].OffsetBytes, whole.streams[s].OffsetBytes);
        EXPECT_EQ(sink.Streams[s].BeyondRule, whole.streams[s].BeyondRule);
        EXPECT_EQ(sink.Streams[s].InBytes, whole.streams[s].InBytes);
      }
    }
  }
}

}  // namespace
}  // namespace quarn
