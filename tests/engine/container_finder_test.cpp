// The container finder on files laid out byte by byte: each kind found
// with its fields (zip entries, a run of gzip members, PNG chunks, PDF
// objects, loose git objects and pack entries), the near misses that must
// find nothing (a data start one off, a size one off, "stream" without an
// object), and noise sprinkled with every signature, for crashes and
// reads past the block. The streams are given as the scan would give them
// (start, input and output sizes), except in the last test, where the
// scan itself finds them.
#include "engine/container_finder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine/stream_detector.h"
#include "tests/engine/container_fixtures.h"
#include "tests/support/guarded_buffer.h"

namespace quarn {
namespace {

using test::TBytes;

// A stream of `deflate`'s bytes at `at`: raw deflate, or a zlib stream
// whose header is at `at` (its data two bytes on, its Adler-32 after).
TFoundStream RawAt(int64_t at, std::size_t deflateBytes, std::size_t outBytes) {
  TFoundStream stream;
  stream.OffsetBytes = at;
  stream.InBytes = deflateBytes;
  stream.OutBytes = outBytes;
  stream.Complete = true;
  return stream;
}

TFoundStream ZlibAt(int64_t at, std::size_t zlibBytes, std::size_t outBytes) {
  TFoundStream stream = RawAt(at + 2, zlibBytes - 6, outBytes);
  stream.HasHeader = true;
  return stream;
}

// What the finder gives for each stream, in order, on a guarded copy.
std::vector<std::optional<TContainer>> FindAll(const TBytes& bytes, const std::vector<TFoundStream>& streams) {
  const test::TGuardedBuffer buffer(bytes);
  TContainerFinder finder({buffer.Data(), buffer.Size()});
  std::vector<std::optional<TContainer>> found;
  for (const TFoundStream& stream : streams) found.push_back(finder.Find(stream));
  return found;
}

std::optional<TContainer> FindOne(const TBytes& bytes, const TFoundStream& stream) {
  return FindAll(bytes, {stream}).front();
}

TContainer Zip(int64_t offset, std::string name) {
  TContainer c;
  c.Kind = TContainerKind::Zip;
  c.Offset = offset;
  c.Name = std::move(name);
  return c;
}

TContainer Gzip(int64_t offset, int64_t index, std::optional<std::string> name, std::optional<uint32_t> mtime) {
  TContainer c;
  c.Kind = TContainerKind::Gzip;
  c.Offset = offset;
  c.Index = index;
  c.Name = std::move(name);
  c.Mtime = mtime;
  return c;
}

TContainer Png(int64_t offset, int64_t index, std::string type) {
  TContainer c;
  c.Kind = TContainerKind::Png;
  c.Offset = offset;
  c.Index = index;
  c.Type = std::move(type);
  return c;
}

TContainer Pdf(int64_t offset, int64_t object, int64_t generation, std::string filter) {
  TContainer c;
  c.Kind = TContainerKind::Pdf;
  c.Offset = offset;
  c.Object = object;
  c.Generation = generation;
  c.Filter = std::move(filter);
  return c;
}

TContainer Git(TContainerKind kind, int64_t offset, std::string type, int64_t size) {
  TContainer c;
  c.Kind = kind;
  c.Offset = offset;
  c.Type = std::move(type);
  c.Size = size;
  return c;
}

// Prints a container in a failed comparison.
std::string Describe(const std::optional<TContainer>& c) {
  if (!c) return "none";
  std::string text = std::string(ContainerKindName(c->Kind)) + " offset=" + std::to_string(c->Offset) +
                     " index=" + std::to_string(c->Index) + " type=" + c->Type + " object=" +
                     std::to_string(c->Object) + " gen=" + std::to_string(c->Generation) + " filter=" + c->Filter +
                     " size=" + std::to_string(c->Size);
  if (c->Name) text += " name=" + *c->Name;
  if (c->Mtime) text += " mtime=" + std::to_string(*c->Mtime);
  return text;
}

void ExpectFound(const std::vector<std::optional<TContainer>>& found,
                 const std::vector<std::optional<TContainer>>& want) {
  ASSERT_EQ(found.size(), want.size());
  for (std::size_t k = 0; k < want.size(); ++k) {
    EXPECT_EQ(Describe(found[k]), Describe(want[k])) << "stream " << k;
  }
}

// --------------------------------------------------------------- zip, gzip

TEST(ContainerFinder, ZipEntriesOfEachForm) {
  TBytes extra;
  test::PutLittle(extra, 0x7875, 2);  // Unix uid/gid field, 11 bytes
  test::PutLittle(extra, 11, 2);
  extra.insert(extra.end(), {1, 4, 0xE8, 3, 0, 0, 4, 0xE8, 3, 0, 0});
  const test::TZipFixture fixtures[] = {
      test::TZipFixture().Name("dir/named.txt").Extra(extra),
      test::TZipFixture().Name("zip64.bin").Zip64(),
      test::TZipFixture().Name("descriptor.txt").Descriptor(test::TDescriptor::WithSignature),
      test::TZipFixture().Name("bare-descriptor.txt").Descriptor(test::TDescriptor::WithoutSignature),
      test::TZipFixture().Name("last.txt"),
  };
  test::TLayout layout;
  layout.Append(test::MakeNoise(100, 1));
  std::vector<TFoundStream> streams;
  std::vector<std::optional<TContainer>> want;
  uint32_t seed = 10;
  for (const test::TZipFixture& fixture : fixtures) {
    const TBytes data = test::MakeText(1000 + 300 * seed, seed);
    ++seed;
    const test::TZipEntryBytes entry = test::ZipEntry(data, fixture);
    const auto at = static_cast<int64_t>(layout.Append(entry.bytes));
    streams.push_back(RawAt(at + entry.dataOffset, entry.deflate.size(), data.size()));
    want.push_back(Zip(at, fixture.name));
  }
  ExpectFound(FindAll(layout.Bytes(), streams), want);
}

TEST(ContainerFinder, GzipMembersNumberedInTheirRun) {
  const test::TGzipFixture fixtures[] = {
      test::TGzipFixture().Name("first.txt"),
      test::TGzipFixture().Mtime(1700000000u),
      test::TGzipFixture().Comment("no name").HeaderCrc(),
  };
  test::TLayout layout;
  layout.Append(test::MakeNoise(20, 2));
  std::vector<TFoundStream> streams;
  std::vector<std::optional<TContainer>> want;
  auto add = [&](const test::TGzipFixture& fixture, int64_t index, uint32_t seed) {
    const TBytes data = test::MakeText(2000, seed);
    const test::TGzipMemberBytes member = test::GzipMember(data, fixture);
    const auto at = static_cast<int64_t>(layout.Append(member.bytes));
    streams.push_back(RawAt(at + member.dataOffset, member.deflate.size(), data.size()));
    want.push_back(Gzip(at, index, fixture.name,
                        fixture.mtime != 0 ? std::optional<uint32_t>(fixture.mtime) : std::nullopt));
  };
  for (int64_t k = 0; k < 3; ++k) add(fixtures[k], k, static_cast<uint32_t>(k + 1));
  // A member after a gap starts a run of its own.
  layout.Append(test::MakeNoise(5, 3));
  add(test::TGzipFixture().Name("again.txt").Mtime(5), 0, 9);
  ExpectFound(FindAll(layout.Bytes(), streams), want);
}

// A header after a long run of signatures that lead nowhere (names that
// never end, extra fields past the stream) is still the one found.
TEST(ContainerFinder, HeaderAfterManySignatures) {
  const TBytes data = test::MakeText(2000, 12);
  const TBytes clutters[] = {test::Text("\x1f\x8b\x08\x0a"),  // FNAME and FHCRC
                             test::Text(std::string_view("PK\x03\x04\x14\x00\x00\x00\x08\x00", 10))};
  for (const TBytes& clutter : clutters) {
    test::TLayout layout;
    for (int k = 0; k < 5000; ++k) layout.Append(clutter);
    const test::TGzipMemberBytes member = test::GzipMember(data, test::TGzipFixture().Name("n"));
    const auto gzipAt = static_cast<int64_t>(layout.Append(member.bytes));
    for (int k = 0; k < 5000; ++k) layout.Append(clutter);
    const test::TZipEntryBytes entry = test::ZipEntry(data, test::TZipFixture().Name("e"));
    const auto zipAt = static_cast<int64_t>(layout.Append(entry.bytes));
    ExpectFound(FindAll(layout.Bytes(), {RawAt(gzipAt + member.dataOffset, member.deflate.size(), data.size()),
                                         RawAt(zipAt + entry.dataOffset, entry.deflate.size(), data.size())}),
                {Gzip(gzipAt, 0, "n", std::nullopt), Zip(zipAt, "e")});
  }
}

// A stream that runs over the next one's start (one the scan took beyond
// its rule) leaves the gap from its own start on.
TEST(ContainerFinder, AfterAnOverlappingStream) {
  const TBytes data = test::MakeText(1500, 4);
  test::TLayout layout;
  layout.Append(test::MakeNoise(64, 5));
  const test::TZipEntryBytes entry = test::ZipEntry(data, test::TZipFixture().Name("inner.txt"));
  const auto at = static_cast<int64_t>(layout.Append(entry.bytes));
  layout.Append(test::MakeNoise(64, 6));
  TFoundStream over = RawAt(at - 20, layout.Bytes().size() - static_cast<std::size_t>(at) + 10, 5);
  over.BeyondRule = true;
  const TFoundStream inner = RawAt(at + entry.dataOffset, entry.deflate.size(), data.size());
  ExpectFound(FindAll(layout.Bytes(), {over, inner}), {std::nullopt, Zip(at, "inner.txt")});
}

// -------------------------------------------------------------------- PNG

TBytes Keyworded(std::string_view keyword, const TBytes& between, const TBytes& zlib) {
  TBytes data = test::Text(keyword);
  data.push_back(0);
  data.insert(data.end(), between.begin(), between.end());
  data.insert(data.end(), zlib.begin(), zlib.end());
  return data;
}

TEST(ContainerFinder, PngChunksWalkedFromTheSignature) {
  const TBytes profile = test::MakeText(3000, 21);
  const TBytes image = test::MakeText(9000, 22);
  const TBytes comment = test::MakeText(700, 23);
  const TBytes international = test::MakeText(900, 24);
  const TBytes profileZlib = test::Zlib(profile);
  const TBytes imageZlib = test::Zlib(image);
  const TBytes commentZlib = test::Zlib(comment);
  const TBytes internationalZlib = test::Zlib(international);

  const auto third = static_cast<long>(imageZlib.size() / 3);
  const TBytes imageParts[] = {TBytes(imageZlib.begin(), imageZlib.begin() + third),
                               TBytes(imageZlib.begin() + third, imageZlib.begin() + 2 * third),
                               TBytes(imageZlib.begin() + 2 * third, imageZlib.end())};
  const TBytes itxtFields = {1, 0, 'e', 'n', 0, 'T', 'i', 't', 'e', 'l', 0};  // flag, method, "en", "Titel"

  test::TLayout layout;
  auto chunk = [&](std::string_view type, const TBytes& data) {
    return static_cast<int64_t>(layout.Append(test::PngChunk(type, data)));
  };
  layout.Append(test::MakeNoise(33, 7));
  layout.Append(test::kPngSignature);
  layout.Append(test::PngHeaderChunk());                                        // chunk 0
  const int64_t iccp = chunk("iCCP", Keyworded("ICC profile", {0}, profileZlib));  // 1
  chunk("pHYs", TBytes(9, 1));                                                    // 2
  // The image data split over three IDAT chunks.
  const int64_t idat = chunk("IDAT", imageParts[0]);                              // 3
  const int64_t idat2 = chunk("IDAT", imageParts[1]);                             // 4
  chunk("IDAT", imageParts[2]);                                                   // 5
  const int64_t ztxt = chunk("zTXt", Keyworded("Comment", {0}, commentZlib));     // 6
  const int64_t itxt = chunk("iTXt", Keyworded("Title", itxtFields, internationalZlib));  // 7
  chunk("IEND", {});                                                              // 8
  layout.Append(test::MakeNoise(40, 8));

  const int64_t keywordIccp = 8 + 11 + 2;  // chunk header, "ICC profile", 0, method
  const int64_t keywordZtxt = 8 + 7 + 2;
  const int64_t keywordItxt = 8 + 5 + 1 + 11;
  const std::vector<TFoundStream> streams = {
      ZlibAt(iccp + keywordIccp, profileZlib.size(), profile.size()),
      ZlibAt(idat + 8, imageZlib.size(), image.size()),
      // A stream at a later IDAT's data is not the image's.
      ZlibAt(idat2 + 8, 100, 200),
      ZlibAt(ztxt + keywordZtxt, commentZlib.size(), comment.size()),
      ZlibAt(itxt + keywordItxt, internationalZlib.size(), international.size()),
  };
  ExpectFound(FindAll(layout.Bytes(), streams),
              {Png(iccp, 1, "iCCP"), Png(idat, 3, "IDAT"), std::nullopt, Png(ztxt, 6, "zTXt"), Png(itxt, 7, "iTXt")});
}

// ---------------------------------------------------------------- PDF

TEST(ContainerFinder, PdfObjectsWithTheirFilter) {
  const TBytes first = test::MakeText(4000, 31);
  const TBytes second = test::MakeText(2500, 32);
  const TBytes third = test::MakeText(1200, 33);
  const TBytes firstZlib = test::Zlib(first);
  const TBytes secondRaw = test::Raw(second);
  const TBytes thirdZlib = test::Zlib(third);
  test::TLayout layout;
  layout.Append(test::Text("%PDF-1.7\n%\xE2\xE3\xCF\xD3\n"));
  const auto object1 = static_cast<int64_t>(layout.Append(test::Text("1 0 obj\n"))) ;
  layout.Append(test::Text("<< /Length " + std::to_string(firstZlib.size()) + " /Filter /FlateDecode >>\nstream\r\n"));
  const auto stream1 = static_cast<int64_t>(layout.Append(firstZlib));
  layout.Append(test::Text("\r\nendstream\nendobj\n"));
  const auto object2 = static_cast<int64_t>(layout.Append(test::Text("12 3 obj")));
  layout.Append(test::Text("<</Filter[/FlateDecode /DCTDecode]/DecodeParms<</Predictor 12>>/Length 9>>stream\n"));
  const auto stream2 = static_cast<int64_t>(layout.Append(secondRaw));
  layout.Append(test::Text("\nendstream\nendobj\n"));
  // A filter given by reference names none.
  const auto object3 = static_cast<int64_t>(layout.Append(test::Text("7 0 obj\r\n")));
  layout.Append(test::Text("<< /Filter 8 0 R >>\r\nstream\n"));
  const auto stream3 = static_cast<int64_t>(layout.Append(thirdZlib));
  layout.Append(test::Text("\nendstream\nendobj\n"));

  ExpectFound(FindAll(layout.Bytes(), {ZlibAt(stream1, firstZlib.size(), first.size()),
                                       RawAt(stream2, secondRaw.size(), second.size()),
                                       ZlibAt(stream3, thirdZlib.size(), third.size())}),
              {Pdf(object1, 1, 0, "FlateDecode"), Pdf(object2 , 12, 3, "FlateDecode"), Pdf(object3, 7, 0, "")});
}

// ---------------------------------------------------------------- git

TBytes LooseObject(std::string_view type, const TBytes& content, int64_t sizeDelta = 0) {
  const int64_t size = static_cast<int64_t>(content.size()) + sizeDelta;
  TBytes object = test::Text(std::string(type) + " " + std::to_string(size));
  object.push_back(0);
  object.insert(object.end(), content.begin(), content.end());
  return object;
}

TEST(ContainerFinder, GitLooseObjects) {
  for (const char* type : {"blob", "tree", "commit", "tag"}) {
    SCOPED_TRACE(type);
    const TBytes object = LooseObject(type, test::MakeText(5000, 41));
    const TBytes zlib = test::Zlib(object);
    EXPECT_EQ(Describe(FindOne(zlib, ZlibAt(0, zlib.size(), object.size()))),
              Describe(Git(TContainerKind::GitObject, -1, type, 5000)));
  }
  // An empty blob.
  const TBytes empty = LooseObject("blob", {});
  const TBytes zlib = test::Zlib(empty);
  EXPECT_EQ(Describe(FindOne(zlib, ZlibAt(0, zlib.size(), empty.size()))),
            Describe(Git(TContainerKind::GitObject, -1, "blob", 0)));
}

// A pack of five entries, each header laid by hand: a commit, a blob, an
// ofs-delta on the blob, a ref-delta and a tag.
struct TPack {
  TBytes bytes;
  std::vector<TFoundStream> streams;
  std::vector<std::optional<TContainer>> want;
};

TPack MakePack(int64_t sizeDelta = 0) {
  TPack pack;
  test::TLayout layout;
  layout.Append(test::MakeNoise(50, 51));
  layout.Append(test::PackHeader(2, 5));
  std::vector<int64_t> entryAt;
  auto add = [&](int type, const char* name, const TBytes& content, const TBytes& afterHeader) {
    const auto at = static_cast<int64_t>(layout.Append(
        test::PackEntryHeader(type, static_cast<uint64_t>(static_cast<int64_t>(content.size()) + sizeDelta))));
    layout.Append(afterHeader);
    const TBytes zlib = test::Zlib(content);
    const auto streamAt = static_cast<int64_t>(layout.Append(zlib));
    pack.streams.push_back(ZlibAt(streamAt, zlib.size(), content.size()));
    pack.want.push_back(Git(TContainerKind::GitPack, at, name, static_cast<int64_t>(content.size())));
    entryAt.push_back(at);
  };
  add(1, "commit", test::Text("tree 0123456789abcdef0123456789abcdef01234567\nauthor A <a@b> 1 +0000\n\nmsg\n"), {});
  add(3, "blob", test::MakeText(7000, 52), {});
  add(6, "ofs-delta", test::MakeNoise(300, 53),
      test::PackDeltaDistance(static_cast<uint64_t>(static_cast<int64_t>(layout.Bytes().size()) - entryAt[1])));
  add(7, "ref-delta", test::MakeNoise(40, 54), test::MakeNoise(20, 55));
  add(4, "tag", test::MakeText(150, 56), {});
  layout.Append(test::MakeNoise(20, 57));  // the pack's checksum
  pack.bytes = layout.Bytes();
  if (sizeDelta != 0) pack.want.assign(pack.want.size(), std::nullopt);
  return pack;
}

TEST(ContainerFinder, GitPackEntriesInTheirChain) {
  const TPack pack = MakePack();
  ExpectFound(FindAll(pack.bytes, pack.streams), pack.want);
}

// Without the entries before it, a header is read backward from the
// stream, and taken when it is the only one that fits.
TEST(ContainerFinder, GitPackEntryAlone) {
  const TPack pack = MakePack();
  for (std::size_t k = 1; k < pack.streams.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(Describe(FindOne(pack.bytes, pack.streams[k])), Describe(pack.want[k]));
  }
}


// ---------------------------------------------------------- near misses

struct TNearMiss {
  const char* label;
  TBytes bytes;
  TFoundStream stream;
};

std::vector<TNearMiss> NearMisses() {
  std::vector<TNearMiss> cases;
  const TBytes data = test::MakeText(1800, 61);
  const TBytes raw = test::Raw(data);
  const TBytes zlib = test::Zlib(data);
  auto then = [](TBytes head, const TBytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  {
    // The header says the data starts one byte before it does.
    test::TZipEntryBytes entry = test::ZipEntry(data, test::TZipFixture().Name("off.txt"));
    entry.bytes.insert(entry.bytes.begin() + entry.dataOffset, 0x00);
    cases.push_back({"zip data one byte late", entry.bytes, RawAt(entry.dataOffset + 1, raw.size(), data.size())});
    const test::TZipEntryBytes early = test::ZipEntry(data, test::TZipFixture().Name("off.txt"));
    cases.push_back({"zip data one byte early", early.bytes, RawAt(early.dataOffset - 1, raw.size(), data.size())});
  }
  {
    // A zlib stream is not a zip entry's data, even where one would start.
    const test::TZipEntryBytes entry = test::ZipEntry(data, test::TZipFixture().Name("z"));
    TBytes bytes(entry.bytes.begin(), entry.bytes.begin() + entry.dataOffset);
    cases.push_back({"zlib stream after a zip header", then(bytes, zlib),
                     ZlibAt(entry.dataOffset, zlib.size(), data.size())});
  }
  {
    test::TGzipMemberBytes member = test::GzipMember(data, test::TGzipFixture().Name("late"));
    member.bytes.insert(member.bytes.begin() + member.dataOffset, 0x00);
    cases.push_back({"gzip data one byte late", member.bytes, RawAt(member.dataOffset + 1, raw.size(), data.size())});
  }
  for (const int64_t delta : {-1, 1}) {
    const TBytes object = LooseObject("blob", data, delta);
    const TBytes objectZlib = test::Zlib(object);
    cases.push_back({delta < 0 ? "git size one short" : "git size one over", objectZlib,
                     ZlibAt(0, objectZlib.size(), object.size())});
  }
  {
    const TBytes object = test::Text(std::string_view("blob 0018\0", 10));
    const TBytes leadingZero = test::Zlib(then(object, test::Text("eighteen bytes ...")));
    cases.push_back({"git size with a leading zero", leadingZero, ZlibAt(0, leadingZero.size(), 28)});
  }
  {
    const TBytes head = test::Text("<< /Filter /FlateDecode >>\nstream\n");
    cases.push_back({"pdf stream without obj", then(head, zlib),
                     ZlibAt(static_cast<int64_t>(head.size()), zlib.size(), data.size())});
    const TBytes end = test::Text("1 0 obj\n<< >>\nendstream\n");
    cases.push_back(
        {"pdf endstream", then(end, zlib), ZlibAt(static_cast<int64_t>(end.size()), zlib.size(), data.size())});
    const TBytes cr = test::Text("1 0 obj\n<< >>\nstream\r");
    cases.push_back(
        {"pdf stream and CR alone", then(cr, zlib), ZlibAt(static_cast<int64_t>(cr.size()), zlib.size(), data.size())});
    const TBytes name = test::Text("1 0 xobj\n<< >>\nstream\n");
    cases.push_back({"pdf obj run on from a name", then(name, zlib),
                     ZlibAt(static_cast<int64_t>(name.size()), zlib.size(), data.size())});
  }
  {
    // PNG chunks that do not start a stream where it starts.
    auto png = [&](const TBytes& chunk, int64_t streamInChunk, const char* label) {
      TBytes bytes = then(test::kPngSignature, test::PngHeaderChunk());
      const auto at = static_cast<int64_t>(bytes.size());
      bytes = then(bytes, chunk);
      cases.push_back({label, bytes, ZlibAt(at + streamInChunk, zlib.size(), data.size())});
    };
    png(test::PngChunk("zTXt", Keyworded("Comment", {1}, zlib)), 8 + 7 + 2, "png zTXt method 1");
    png(test::PngChunk("zTXt", Keyworded(std::string(80, 'k'), {0}, zlib)), 8 + 80 + 2, "png keyword of 80 bytes");
    png(test::PngChunk("zTXt", Keyworded("", {0}, zlib)), 8 + 0 + 2, "png empty keyword");
    png(test::PngChunk("iTXt", Keyworded("T", {0, 0, 0, 0}, zlib)), 8 + 1 + 1 + 4, "png iTXt not compressed");
    png(test::PngChunk("tEXt", Keyworded("Comment", {0}, zlib)), 8 + 7 + 2, "png tEXt");
    png(test::PngChunk("IDAT", zlib), 9, "png IDAT data one byte on");
    TBytes noSignature = test::PngHeaderChunk();
    const auto at = static_cast<int64_t>(noSignature.size());
    cases.push_back({"png IDAT without signature", then(noSignature, test::PngChunk("IDAT", zlib)),
                     ZlibAt(at + 8, zlib.size(), data.size())});
  }
  {
    TPack pack = MakePack(1);
    cases.push_back({"pack entry size one over", pack.bytes, pack.streams[2]});
    pack = MakePack(-1);
    cases.push_back({"pack entry size one short", pack.bytes, pack.streams[0]});
    pack = MakePack();
    pack.bytes[50 + 7] = 4;  // version 4
    cases.push_back({"pack version 4", pack.bytes, pack.streams[0]});
    // An ofs-delta first in its pack, its base before the pack's start.
    const TBytes header = then(test::PackEntryHeader(6, data.size()), test::PackDeltaDistance(1));
    const TBytes bytes = then(test::PackHeader(2, 1), header);
    const auto at = static_cast<int64_t>(bytes.size());
    cases.push_back({"pack delta on no entry", then(bytes, zlib), ZlibAt(at, zlib.size(), data.size())});
  }
  return cases;
}

TEST(ContainerFinder, NearMissesFindNothing) {
  for (const TNearMiss& c : NearMisses()) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Describe(FindOne(c.bytes, c.stream)), "none");
  }
}

// ------------------------------------------------------------ hostile

// Noise with every signature sprinkled in, headers half right, and
// streams anywhere (past the block too, and with sizes no block has):
// nothing crashes or reads past the block (the copy is guarded), and what
// is found starts before its stream.
TEST(ContainerFinder, HostileBytes) {
  std::mt19937 rng(71);
  TBytes bytes = test::MakeNoise(1 << 20, 72);
  const TBytes pieces[] = {
      test::Text("PK\x03\x04\x14\x00\x00\x00\x08\x00"),
      {0x1f, 0x8b, 8, 0x08},
      {0x1f, 0x8b, 8, 0x1e},
      test::kPngSignature,
      test::PngHeaderChunk(),
      test::PngChunk("IDAT", {}),
      test::PackHeader(2, 3),
      test::Text("stream\n"),
      test::Text(" 0 obj <<"),
      test::Text(">>"),
      test::Text("/Filter"),
      {0, 0, 0},
  };
  for (int k = 0; k < 40000; ++k) {
    const TBytes& piece = pieces[rng() % std::size(pieces)];
    const std::size_t at = rng() % (bytes.size() - piece.size());
    std::copy(piece.begin(), piece.end(), bytes.begin() + static_cast<long>(at));
  }
  std::vector<TFoundStream> streams;
  for (int k = 0; k < 200000; ++k) {
    TFoundStream stream;
    stream.OffsetBytes = static_cast<int64_t>(rng() % (bytes.size() + 100));
    stream.HasHeader = rng() % 2 == 0;
    stream.InBytes = rng() % 4 == 0 ? UINT64_MAX - rng() : rng() % 5000;
    stream.OutBytes = rng() % 4 == 0 ? UINT64_MAX : rng() % 300;
    stream.BeyondRule = rng() % 3 == 0;
    streams.push_back(stream);
  }
  std::sort(streams.begin(), streams.end(),
            [](const TFoundStream& a, const TFoundStream& b) { return a.OffsetBytes < b.OffsetBytes; });
  const std::vector<std::optional<TContainer>> found = FindAll(bytes, streams);
  for (std::size_t k = 0; k < streams.size(); ++k) {
    if (found[k] && found[k]->Offset >= 0) {
      EXPECT_LT(found[k]->Offset, streams[k].StartBytes()) << k;
    }
  }
}

// ------------------------------------------------------------ with a scan

// One file of every kind, scanned by the detector with raw deflate on:
// each container is found for the stream the scan finds where its data
// starts.
TEST(ContainerFinder, StreamsTheScanFinds) {
  test::TLayout layout;
  std::vector<std::pair<int64_t, TContainer>> want;  // stream start and its container
  layout.Append(test::MakeNoise(300, 81));
  {
    const test::TZipEntryBytes entry = test::ZipEntry(test::MakeText(6000, 82), test::TZipFixture().Name("a/b.txt"));
    const auto at = static_cast<int64_t>(layout.Append(entry.bytes));
    want.push_back({at + entry.dataOffset, Zip(at, "a/b.txt")});
  }
  for (int64_t k = 0; k < 2; ++k) {
    const test::TGzipMemberBytes member =
        test::GzipMember(test::MakeText(5000, static_cast<uint32_t>(83 + k)), test::TGzipFixture().Name("m"));
    const auto at = static_cast<int64_t>(layout.Append(member.bytes));
    want.push_back({at + member.dataOffset, Gzip(at, k, "m", std::nullopt)});
  }
  layout.Append(test::MakeNoise(200, 85));
  {
    layout.Append(test::kPngSignature);
    layout.Append(test::PngHeaderChunk());
    const auto at = static_cast<int64_t>(layout.Append(test::PngChunk("IDAT", test::Zlib(test::MakeText(8000, 86)))));
    layout.Append(test::PngChunk("IEND", {}));
    want.push_back({at + 8, Png(at, 1, "IDAT")});
  }
  layout.Append(test::MakeNoise(200, 87));
  {
    // After an end of line, as objects are: noise could run on into the
    // number.
    const auto at = static_cast<int64_t>(layout.Append(test::Text("\n4 0 obj\n<</Filter/FlateDecode>>\nstream\n"))) + 1;
    const auto streamAt = static_cast<int64_t>(layout.Append(test::Zlib(test::MakeText(7000, 88))));
    layout.Append(test::Text("\nendstream\nendobj\n"));
    want.push_back({streamAt, Pdf(at, 4, 0, "FlateDecode")});
  }
  {
    const TBytes object = LooseObject("blob", test::MakeText(6000, 89));
    want.push_back({static_cast<int64_t>(layout.Append(test::Zlib(object))),
                    Git(TContainerKind::GitObject, -1, "blob", 6000)});
  }
  {
    const TPack pack = MakePack();
    const auto at = static_cast<int64_t>(layout.Append(pack.bytes));
    // The blob and the tag: the deltas are noise, which the scan's rule
    // turns down.
    for (const std::size_t k : {std::size_t{1}, std::size_t{4}}) {
      TContainer c = *pack.want[k];
      c.Offset += at;
      want.push_back({pack.streams[k].StartBytes() + at, c});
    }
  }
  layout.Append(test::MakeNoise(300, 90));

  const test::TGuardedBuffer buffer(layout.Bytes());
  TScanOptions options;
  options.Headerless = true;
  TScanner scanner(options);
  TCollectSink sink;
  scanner.FindStreams({buffer.Data(), buffer.Size()}, {0, buffer.Size()}, sink);
  TContainerFinder finder({buffer.Data(), buffer.Size()});
  std::vector<std::pair<int64_t, std::optional<TContainer>>> found;
  for (const TFoundStream& stream : sink.Streams) found.push_back({stream.StartBytes(), finder.Find(stream)});
  for (const auto& [start, container] : want) {
    SCOPED_TRACE(start);
    const auto hit = std::find_if(found.begin(), found.end(), [&](const auto& f) { return f.first == start; });
    ASSERT_NE(hit, found.end()) << "the scan found no stream there";
    EXPECT_EQ(Describe(hit->second), Describe(container));
  }
}

}  // namespace
}  // namespace quarn
