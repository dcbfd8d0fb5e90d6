// The fast inflate path against zlib, on the same streams in one run: the
// work that confirming an accepted stream costs the detector after its
// probe. zlib inflates each stream as the trial does (raw, Z_SYNC_FLUSH,
// 64 KiB of output a call); the fast path decodes it from its first byte
// with the rest of the file behind it.
//
// Streams come from real files named on the command line (every stream
// that ScanBlock accepts in them with Headerless on), and from text
// compressed by zlib at several levels, made in memory:
//
//   build-bench/bin/quarn-fast-inflate-bench /usr/share/doc/*/*.gz
//   build-bench/bin/quarn-fast-inflate-bench --benchmark_filter=Text
//
// Throughput is bytes_per_second of inflated output.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/stream_detector.h"
#include "inflate/engine_binding.h"
#include "inflate/fast_inflate.h"
#include "tests/support/zlib_fixtures.h"

namespace {

using quarn::test::TBytes;

struct TStream {
  const TBytes* file = nullptr;
  uint64_t offset = 0;
  uint64_t inBytes = 0;
  uint64_t outBytes = 0;
};

struct TStreamSet {
  std::vector<TBytes> files;
  std::vector<TStream> streams;
  uint64_t outBytes = 0;
};

struct TCollect final : quarn::TStreamSink {
  std::vector<quarn::TFoundStream> found;
  void StreamFound(const quarn::TFoundStream& s) override { found.push_back(s); }
};

// Every stream that the scan accepts in each file, with Headerless on.
void AddAcceptedStreams(TStreamSet& set) {
  z_stream record{};
  quarn::InflateInit2(&record, -15);
  std::vector<uint8_t> buffer(quarn::kInflateBufferBytes);
  for (const TBytes& file : set.files) {
    quarn::TScanState state;
    state.Options.Headerless = true;
    TCollect sink;
    quarn::ScanBlock(state, file.data(), static_cast<int64_t>(file.size()), &record, buffer.data(), &sink);
    for (const quarn::TFoundStream& s : sink.found) {
      set.streams.push_back({&file, static_cast<uint64_t>(s.OffsetBytes), s.InBytes, s.OutBytes});
      set.outBytes += s.OutBytes;
    }
  }
  quarn::InflateEnd(&record);
}

TStreamSet& RealStreams() {
  static TStreamSet set;
  return set;
}

const TStreamSet& TextStreams() {
  static const TStreamSet set = [] {
    TStreamSet s;
    s.files.reserve(32);
    uint32_t seed = 1;
    for (const int level : {1, 6, 9}) {
      for (const std::size_t size : {std::size_t{4000}, std::size_t{60000}, std::size_t{1} << 20}) {
        s.files.push_back(quarn::test::Raw(quarn::test::MakeText(size, seed++), level));
        s.streams.push_back({&s.files.back(), 0, s.files.back().size(), size});
        s.outBytes += size;
      }
    }
    return s;
  }();
  return set;
}

void Zlib(benchmark::State& state, const TStreamSet& set) {
  z_stream record{};
  inflateInit2(&record, -15);
  std::vector<uint8_t> out(65536);
  for (auto _ : state) {
    uint64_t produced = 0;
    for (const TStream& s : set.streams) {
      inflateReset(&record);
      record.next_in = const_cast<Bytef*>(s.file->data() + s.offset);
      record.avail_in = static_cast<uInt>(s.file->size() - s.offset);
      int code = Z_OK;
      while (code == Z_OK) {
        record.next_out = out.data();
        record.avail_out = static_cast<uInt>(out.size());
        code = inflate(&record, Z_SYNC_FLUSH);
      }
      produced += record.total_out;
    }
    if (produced != set.outBytes) state.SkipWithError("zlib gave other totals");
  }
  inflateEnd(&record);
  state.SetBytesProcessed(static_cast<int64_t>(static_cast<uint64_t>(state.iterations()) * set.outBytes));
  state.counters["streams"] = static_cast<double>(set.streams.size());
}

void FastPath(benchmark::State& state, const TStreamSet& set) {
  quarn::TFastInflater inflater;
  for (auto _ : state) {
    uint64_t produced = 0;
    uint64_t handedBack = 0;
    for (const TStream& s : set.streams) {
      const quarn::TFastInflateResult r = inflater.Inflate(s.file->data() + s.offset, s.file->size() - s.offset);
      if (!r.Complete || r.InBytes != s.inBytes) ++handedBack;
      produced += r.OutBytes;
    }
    if (handedBack != 0 || produced != set.outBytes) state.SkipWithError("the fast path handed streams back");
  }
  state.SetBytesProcessed(static_cast<int64_t>(static_cast<uint64_t>(state.iterations()) * set.outBytes));
  state.counters["streams"] = static_cast<double>(set.streams.size());
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TStreamSet& real = RealStreams();
  real.files.reserve(static_cast<std::size_t>(argc));
  for (int k = 1; k < argc; ++k) {
    std::ifstream in(argv[k], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", argv[k]);
      return 2;
    }
    real.files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  AddAcceptedStreams(real);
  if (!real.streams.empty()) {
    benchmark::RegisterBenchmark("Real/Zlib", [](benchmark::State& s) { Zlib(s, RealStreams()); });
    benchmark::RegisterBenchmark("Real/FastPath", [](benchmark::State& s) { FastPath(s, RealStreams()); });
  }
  benchmark::RegisterBenchmark("Text/Zlib", [](benchmark::State& s) { Zlib(s, TextStreams()); });
  benchmark::RegisterBenchmark("Text/FastPath", [](benchmark::State& s) { FastPath(s, TextStreams()); });
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
