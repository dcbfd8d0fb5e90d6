// quarn-fuzz-seeds DIR [CHANGING_DIR]: writes the seed corpus of
// scan_block_fuzzer into DIR (and that of changing_input_fuzzer, the same
// blocks with a few changes, into CHANGING_DIR), one file per seed: an options byte (bit 0 Headerless, bit 1
// AcceptIncomplete) and a small block made with zlib: streams with and
// without a header, cut, after noise, with stored and fixed-code blocks,
// flushed and never finished, and a stream inside a stream. The same seeds
// serve nested_scan_fuzzer.
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/zlib_fixtures.h"

namespace {

bool WriteSeed(const std::string& path, const std::vector<uint8_t>& head, const std::vector<uint8_t>& block) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    std::perror(path.c_str());
    return false;
  }
  std::fwrite(head.data(), 1, head.size(), file);
  std::fwrite(block.data(), 1, block.size(), file);
  return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: quarn-fuzz-seeds DIR [CHANGING_DIR]\n");
    return 2;
  }
  using quarn::test::TBytes;
  const TBytes text = quarn::test::MakeText(1500, 1);
  const TBytes zlibStream = quarn::test::Zlib(text, 9, 15);
  const TBytes rawStream = quarn::test::Raw(text);
  const std::vector<TBytes> pieces = quarn::test::RandomLetterPieces(16, 120, 5);
  TBytes repeated;
  const TBytes block = quarn::test::Unfinished({pieces[0]}, Z_SYNC_FLUSH, 6, -15);
  for (int k = 0; k < 30; ++k) repeated.insert(repeated.end(), block.begin(), block.end());
  struct TSeed {
    const char* name;
    uint8_t options;
    TBytes block;
  };
  auto join = [](TBytes a, const TBytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  // Streams that only a scan for proof counts (options bit 2): a small
  // fixed-code zlib stream in the last bytes, a gzip member and a zip
  // entry, each with its checksum.
  const TBytes small(text.begin(), text.begin() + 40);
  const TBytes smallRaw = quarn::test::Raw(small, 1);
  const uint32_t crc = static_cast<uint32_t>(crc32(0, small.data(), static_cast<uInt>(small.size())));
  auto little = [](TBytes& to, uint64_t value, int bytes) {
    for (int k = 0; k < bytes; ++k) to.push_back(static_cast<uint8_t>(value >> (8 * k)));
  };
  TBytes gzipMember = {0x1f, 0x8b, 8, 8, 1, 2, 3, 4, 0, 3, 'a', 0};
  gzipMember.insert(gzipMember.end(), smallRaw.begin(), smallRaw.end());
  little(gzipMember, crc, 4);
  little(gzipMember, small.size(), 4);
  TBytes zipEntry;
  little(zipEntry, 0x04034b50, 4);
  for (const uint64_t field : {20u, 0u, 8u, 0u, 0u}) little(zipEntry, field, 2);
  little(zipEntry, crc, 4);
  little(zipEntry, smallRaw.size(), 4);
  little(zipEntry, small.size(), 4);
  little(zipEntry, 1, 2);
  little(zipEntry, 0, 2);
  zipEntry.push_back('n');
  zipEntry.insert(zipEntry.end(), smallRaw.begin(), smallRaw.end());

  const TSeed seeds[] = {
      {"proven-zlib-at-end", 4, join(quarn::test::MakeNoise(100, 6), quarn::test::Zlib(small, 1))},
      {"proven-gzip-member", 4, join(gzipMember, gzipMember)},
      {"proven-zip-entry", 5, join(quarn::test::MakeNoise(20, 7), zipEntry)},
      {"zlib-after-noise", 3, join(quarn::test::MakeNoise(40, 2), zlibStream)},
      // A stream inside a stream, for the nested scan (bits 3 to 7: its budget).
      {"zlib-in-zlib", 3 | (12 << 3),
       join(quarn::test::MakeNoise(30, 8), quarn::test::Zlib(join(join(text, zlibStream), text), 9, 15))},
      {"zlib-small-window", 0, join(TBytes(3, 0), quarn::test::Zlib(text, 1, 9))},
      {"raw-dynamic", 1, join(TBytes(5, 0), rawStream)},
      {"raw-cut", 3, TBytes(rawStream.begin(), rawStream.begin() + static_cast<long>(rawStream.size() / 2))},
      {"zlib-fixed", 2, quarn::test::Zlib(text, 6, 15, Z_FIXED)},
      {"zlib-stored", 2, quarn::test::Zlib(TBytes(text.begin(), text.begin() + 300), 0, 15)},
      {"noise", 1, quarn::test::MakeNoise(600, 3)},
      // Raw deflate from the first byte on, and one whose output passes the
      // 32 KiB window within a few input bytes.
      {"raw-at-start", 1, rawStream},
      {"raw-beyond-window", 1, quarn::test::Raw(TBytes(200000, 'w'), 9)},
      {"raw-huffman-only", 1, quarn::test::Raw(text, 6, Z_HUFFMAN_ONLY)},
      // Streams flushed block by block and never finished: every block
      // start after a flush is a candidate whose trial runs to the end.
      {"zlib-full-flush-unfinished", 1, quarn::test::Unfinished(pieces, Z_FULL_FLUSH)},
      {"raw-sync-flush-unfinished", 1,
       join(quarn::test::MakeNoise(30, 4), quarn::test::Unfinished(pieces, Z_SYNC_FLUSH, 9, -15))},
      {"sync-block-repeated", 1, repeated},
  };
  for (const TSeed& seed : seeds) {
    if (!WriteSeed(std::string(argv[1]) + "/" + seed.name, {seed.options}, seed.block)) return 1;
    // The same block for changing_input_fuzzer: four changes, each making
    // one of the first bytes something else (a zlib header's CMF 0xF8).
    if (argc == 3 && !WriteSeed(std::string(argv[2]) + "/" + seed.name,
                                {seed.options, 4, 0, 0, 0xF8, 2, 0, 0x78, 1, 0, 0x05, 3, 0, 0xF8}, seed.block)) {
      return 1;
    }
  }
  return 0;
}
