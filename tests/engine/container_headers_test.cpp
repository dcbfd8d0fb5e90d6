// Zip local headers and gzip member headers read forward from their
// signature, and checked against what a trial of their data gives: a
// table of the header forms writers use, each read from a guarded copy so
// that a read past the block crashes, and for each the checks that must
// fail (wrong CRC, wrong sizes, wrong ISIZE); then the headers that must
// not be read as one, and every cut of a valid header.
#include "engine/container_headers.h"

#include <gtest/gtest.h>

#include "tests/engine/container_fixtures.h"
#include "tests/support/guarded_buffer.h"

namespace quarn {
namespace {

using test::TBytes;

TBlock BlockOf(const test::TGuardedBuffer& buffer) { return {buffer.Data(), buffer.Size()}; }

struct TZipCase {
  const char* label;
  test::TZipFixture fixture;
};

TEST(ZipLocalHeader, ReadsEachFormAndChecksItsPromise) {
  TBytes customExtra;
  test::PutLittle(customExtra, 0x5455, 2);  // extended timestamp, 5 bytes
  test::PutLittle(customExtra, 5, 2);
  customExtra.insert(customExtra.end(), {1, 2, 3, 4, 5});
  const TZipCase cases[] = {
      {"name only", {}},
      {"name and extra field", test::TZipFixture().Name("dir/file.txt").Extra(customExtra)},
      {"empty name", test::TZipFixture().Name("")},
      {"zip64 extra after another", test::TZipFixture().Name("big.bin").Extra(customExtra).Zip64()},
      {"descriptor with signature", test::TZipFixture().Name("d.txt").Descriptor(test::TDescriptor::WithSignature)},
      {"descriptor without signature",
       test::TZipFixture().Name("d.txt").Descriptor(test::TDescriptor::WithoutSignature)},
      {"zip64 descriptor",
       test::TZipFixture().Name("d64.txt").Zip64().Descriptor(test::TDescriptor::WithSignature, 8)},
  };
  const TBytes data = test::MakeText(3000, 7);
  for (const TZipCase& c : cases) {
    SCOPED_TRACE(c.label);
    const test::TZipEntryBytes entry = test::ZipEntry(data, c.fixture);
    // Something before the header, so that offsets are not all zero.
    TBytes bytes = test::MakeNoise(37, 1);
    const int64_t headerAt = static_cast<int64_t>(bytes.size());
    bytes.insert(bytes.end(), entry.bytes.begin(), entry.bytes.end());
    const test::TGuardedBuffer buffer(bytes);
    const TBlock block = BlockOf(buffer);

    const std::optional<TZipEntry> read = ReadZipLocalHeader(block, headerAt);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->HeaderOffset, headerAt);
    EXPECT_EQ(read->DataOffset, headerAt + entry.dataOffset);
    EXPECT_EQ(read->Name, c.fixture.name);
    EXPECT_EQ(read->Descriptor, c.fixture.descriptor != test::TDescriptor::None);
    EXPECT_EQ(read->Zip64, c.fixture.zip64);
    if (c.fixture.zip64) {
      EXPECT_EQ(read->InflatedBytes, data.size());
      EXPECT_EQ(read->CompressedBytes, entry.deflate.size());
    }

    const uint64_t in = entry.deflate.size();
    const uint64_t out = data.size();
    EXPECT_TRUE(ZipEntryMatches(block, *read, in, out, entry.crc));
    EXPECT_FALSE(ZipEntryMatches(block, *read, in, out, entry.crc ^ 1)) << "wrong CRC";
    EXPECT_FALSE(ZipEntryMatches(block, *read, in, out + 1, entry.crc)) << "wrong inflated size";
    EXPECT_FALSE(ZipEntryMatches(block, *read, in - 1, out, entry.crc)) << "wrong compressed size";
  }
}

TEST(ZipLocalHeader, RefusesWhatIsNotADeflateEntry) {
  const TBytes data = test::MakeText(500, 3);
  struct TRefused {
    const char* label;
    test::TZipFixture fixture;
  };
  test::TZipFixture stored;
  stored.method = 0;
  test::TZipFixture encrypted;
  encrypted.flags = 1;
  const TRefused cases[] = {
      {"stored", stored},
      {"encrypted", encrypted},
  };
  for (const TRefused& c : cases) {
    SCOPED_TRACE(c.label);
    const test::TGuardedBuffer buffer(test::ZipEntry(data, c.fixture).bytes);
    EXPECT_FALSE(ReadZipLocalHeader(BlockOf(buffer), 0).has_value());
  }

  // Sizes held in a zip64 field that is not there, and no descriptor.
  TBytes noZip64 = test::ZipEntry(data).bytes;
  std::fill(noZip64.begin() + 18, noZip64.begin() + 26, 0xFF);
  const test::TGuardedBuffer noZip64Buffer(noZip64);
  EXPECT_FALSE(ReadZipLocalHeader(BlockOf(noZip64Buffer), 0).has_value());

  // Every cut of an entry: the header reads only while its data starts
  // inside the block, and nothing is read past the cut.
  const TBytes extra = test::Text(std::string_view("\x01\x02\x00\x00", 4));  // an empty field, id 0x0201
  const test::TZipEntryBytes entry = test::ZipEntry(data, test::TZipFixture().Name("name.txt").Extra(extra));
  for (std::size_t cut = 0; cut <= static_cast<std::size_t>(entry.dataOffset) + 1; ++cut) {
    const test::TGuardedBuffer buffer(TBytes(entry.bytes.begin(), entry.bytes.begin() + static_cast<long>(cut)));
    EXPECT_EQ(ReadZipLocalHeader(BlockOf(buffer), 0).has_value(), static_cast<int64_t>(cut) > entry.dataOffset)
        << "cut at " << cut;
  }
}

TEST(ZipLocalHeader, DescriptorCutShortDoesNotMatch) {
  const TBytes data = test::MakeText(800, 4);
  const test::TZipEntryBytes entry =
      test::ZipEntry(data, test::TZipFixture().Name("d").Descriptor(test::TDescriptor::WithSignature));
  for (std::size_t cut = 1; cut <= 4; ++cut) {
    const test::TGuardedBuffer buffer(TBytes(entry.bytes.begin(), entry.bytes.end() - static_cast<long>(cut)));
    const std::optional<TZipEntry> read = ReadZipLocalHeader(BlockOf(buffer), 0);
    ASSERT_TRUE(read.has_value());
    EXPECT_FALSE(ZipEntryMatches(BlockOf(buffer), *read, entry.deflate.size(), data.size(), entry.crc)) << cut;
  }
}

struct TGzipCase {
  const char* label;
  test::TGzipFixture fixture;
};

TEST(GzipMemberHeader, ReadsEachFormAndChecksItsTrailer) {
  const TGzipCase cases[] = {
      {"bare", {}},
      {"name", test::TGzipFixture().Name("file.txt")},
      {"name and mtime", test::TGzipFixture().Name("a.log").Mtime(1700000000u)},
      {"comment", test::TGzipFixture().Comment("a comment")},
      {"extra field", test::TGzipFixture().Extra(test::Text(std::string_view("AB\x02\x00xy", 6)))},
      {"everything with header CRC",
       test::TGzipFixture()
           .Name("n")
           .Comment("c")
           .Extra(test::Text(std::string_view("XY\x00\x00", 4)))
           .HeaderCrc()
           .Mtime(42)},
  };
  const TBytes data = test::MakeText(2500, 9);
  for (const TGzipCase& c : cases) {
    SCOPED_TRACE(c.label);
    const test::TGzipMemberBytes member = test::GzipMember(data, c.fixture);
    TBytes bytes = test::MakeNoise(11, 2);
    const int64_t headerAt = static_cast<int64_t>(bytes.size());
    bytes.insert(bytes.end(), member.bytes.begin(), member.bytes.end());
    const test::TGuardedBuffer buffer(bytes);
    const TBlock block = BlockOf(buffer);

    const std::optional<TGzipMember> read = ReadGzipHeader(block, headerAt);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->HeaderOffset, headerAt);
    EXPECT_EQ(read->DataOffset, headerAt + member.dataOffset);
    EXPECT_EQ(read->Mtime, c.fixture.mtime);
    EXPECT_EQ(read->Name.has_value(), c.fixture.name.has_value());
    if (c.fixture.name) {
      EXPECT_EQ(*read->Name, *c.fixture.name);
    }

    const uint64_t in = member.deflate.size();
    const uint64_t out = data.size();
    EXPECT_TRUE(GzipMemberMatches(block, *read, in, out, member.crc));
    // ISIZE holds the size modulo 2^32.
    EXPECT_TRUE(GzipMemberMatches(block, *read, in, out + (uint64_t{1} << 32), member.crc));
    EXPECT_FALSE(GzipMemberMatches(block, *read, in, out, member.crc ^ 0x80000000u)) << "wrong CRC";
    EXPECT_FALSE(GzipMemberMatches(block, *read, in, out - 1, member.crc)) << "wrong ISIZE";
    EXPECT_FALSE(GzipMemberMatches(block, *read, in + 1, out, member.crc)) << "trailer read at the wrong place";
  }
}

TEST(GzipMemberHeader, RefusesWhatIsNotAMember) {
  const TBytes data = test::MakeText(300, 5);
  const test::TGzipMemberBytes good = test::GzipMember(data, test::TGzipFixture().Name("name").HeaderCrc());
  const std::size_t crcAt = static_cast<std::size_t>(good.dataOffset) - 1;
  struct TRefused {
    const char* label;
    std::size_t at;
    uint8_t value;
  };
  const TRefused cases[] = {
      {"method 7", 2, 7},
      {"reserved flag", 3, static_cast<uint8_t>(good.bytes[3] | 0x20)},
      {"header CRC off", crcAt, static_cast<uint8_t>(good.bytes[crcAt] ^ 1)},
  };
  for (const TRefused& c : cases) {
    SCOPED_TRACE(c.label);
    TBytes bytes = good.bytes;
    bytes[c.at] = c.value;
    const test::TGuardedBuffer buffer(bytes);
    EXPECT_FALSE(ReadGzipHeader(BlockOf(buffer), 0).has_value());
  }

  // Every cut: a name that runs into the cut, an extra field longer than
  // the block, a header CRC cut in half; read only while the data starts
  // inside the block.
  const test::TGzipFixture everything = test::TGzipFixture()
                                            .Name("name.txt")
                                            .Comment("comment")
                                            .Extra(test::Text(std::string_view("ab\x01\x00z", 5)))
                                            .HeaderCrc()
                                            .Mtime(7);
  const test::TGzipMemberBytes full = test::GzipMember(data, everything);
  for (std::size_t cut = 0; cut <= static_cast<std::size_t>(full.dataOffset) + 1; ++cut) {
    const test::TGuardedBuffer buffer(TBytes(full.bytes.begin(), full.bytes.begin() + static_cast<long>(cut)));
    EXPECT_EQ(ReadGzipHeader(BlockOf(buffer), 0).has_value(), static_cast<int64_t>(cut) > full.dataOffset)
        << "cut at " << cut;
  }
  // The trailer cut short.
  for (std::size_t cut = 1; cut <= 8; ++cut) {
    const test::TGuardedBuffer buffer(TBytes(full.bytes.begin(), full.bytes.end() - static_cast<long>(cut)));
    const std::optional<TGzipMember> read = ReadGzipHeader(BlockOf(buffer), 0);
    ASSERT_TRUE(read.has_value());
    EXPECT_FALSE(GzipMemberMatches(BlockOf(buffer), *read, full.deflate.size(), data.size(), full.crc)) << cut;
  }
}

}  // namespace
}  // namespace quarn
