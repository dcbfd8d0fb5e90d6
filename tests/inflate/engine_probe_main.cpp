// quarn-engine-probe FILE
// Starts up as the programs do (the engine probe first), then scans FILE
// with the engine that serves, raw deflate included, and prints:
//   engine: <DescribeServingEngine()>
//   inflate from: <the library file that holds the inflate code called,
//                  or "(this program)" for the built-in engine>
//   zin=.. zout=.. hless=.. Z=.. l=a,b,c,d w=w9,..,w15
// A serving library that lacks a name ends it with the error text on stderr
// and status 1. Copied beside test-built libraries, it shows that a library
// really serves the scan, not just that it was found.
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/stream_detector.h"
#include "inflate/engine_binding.h"
#include "inflate/engine_library.h"
#include "tests/support/code_file.h"
#include "util/errors.h"
#include "util/platform/process.h"

namespace {

std::string InflateCodeFile() {
  using quarn::EngineBinding;
  if (!EngineBinding.LibraryBound) return quarn::test::FileHoldingCode(reinterpret_cast<void*>(&inflate));
  const quarn::TLibraryEntries& entries =
      EngineBinding.UseLibraryA ? EngineBinding.EntriesA : EngineBinding.EntriesB;
  return quarn::test::FileHoldingCode(reinterpret_cast<void*>(entries.inflate));
}

}  // namespace

int main(int argc, char** argv) {
  quarn::platform::PrepareStandardStreams();  // "\n" stays "\n" on Windows, as the programs do
  try {
    quarn::ProbeEngineLibrary();
  } catch (const quarn::TQuarnError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: quarn-engine-probe FILE\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 2;
  }
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};

  quarn::TScanState state;
  state.Options.Headerless = true;
  z_stream record{};
  if (const int status = quarn::InflateInit2(&record, -15); status != Z_OK) {
    std::fprintf(stderr, "InflateInit2 failed with %d\n", status);
    return 2;
  }
  std::vector<uint8_t> buffer(quarn::kInflateBufferBytes);
  quarn::ScanBlock(state, bytes.data(), static_cast<int64_t>(bytes.size()), &record, buffer.data());
  quarn::InflateEnd(&record);

  std::printf("engine: %s\n", quarn::DescribeServingEngine().c_str());
  std::printf("inflate from: %s\n", InflateCodeFile().c_str());
  std::printf("zin=%lld zout=%lld hless=%lld Z=%lld l=", static_cast<long long>(state.zin.load()),
              static_cast<long long>(state.zout.load()), static_cast<long long>(state.hless.load()),
              static_cast<long long>(state.Z.load()));
  for (std::size_t f = 0; f < 4; ++f) {
    std::printf("%s%lld", f == 0 ? "" : ",", static_cast<long long>(state.l[f].load()));
  }
  std::printf(" w=");
  for (int k = 9; k <= 15; ++k) {
    std::printf("%s%lld", k == 9 ? "" : ",", static_cast<long long>(state.w[k].load()));
  }
  std::printf("\n");
  return 0;
}
