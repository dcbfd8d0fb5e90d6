// quarn-fuzz-seeds DIR: writes the seed corpus of scan_block_fuzzer into
// DIR, one file per seed: an options byte (bit 0 Headerless, bit 1
// AcceptIncomplete) and a small block made with zlib: streams with and
// without a header, cut, after noise, with stored and fixed-code blocks,
// flushed and never finished.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/zlib_fixtures.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quarn-fuzz-seeds DIR\n");
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
  const TSeed seeds[] = {
      {"zlib-after-noise", 3, join(quarn::test::MakeNoise(40, 2), zlibStream)},
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
    const std::string path = std::string(argv[1]) + "/" + seed.name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
      std::perror(path.c_str());
      return 1;
    }
    std::fputc(seed.options, file);
    std::fwrite(seed.block.data(), 1, seed.block.size(), file);
    std::fclose(file);
  }
  return 0;
}
