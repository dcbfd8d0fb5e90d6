// ScanBlock against the plain reference loop, and one pass over the same
// bytes as the floor that no scan can beat. Inputs are made once, in
// memory: 64 MiB of noise (the worst case for candidates) and 64 MiB of
// zlib and raw deflate streams of text with noise between them.
//
//   build-perf/bin/quarn-scan-block-bench
//   build-perf/bin/quarn-scan-block-bench --benchmark_filter=Random
//
// Throughput is reported as bytes_per_second of the input.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "engine/stream_detector.h"
#include "inflate/engine_binding.h"
#include "tests/support/reference_scan.h"
#include "tests/support/zlib_fixtures.h"

namespace {

using quarn::test::TBytes;

constexpr std::size_t kInputBytes = std::size_t{64} << 20;

const TBytes& RandomInput() {
  static const TBytes bytes = [] {
    std::mt19937_64 rng(20240601);
    TBytes out(kInputBytes);
    for (std::size_t at = 0; at + 8 <= out.size(); at += 8) {
      const uint64_t word = rng();
      for (int k = 0; k < 8; ++k) out[at + static_cast<std::size_t>(k)] = static_cast<uint8_t>(word >> (8 * k));
    }
    return out;
  }();
  return bytes;
}

// Streams of every window size and level, some raw, some stored or with
// fixed codes, separated by short runs of noise.
const TBytes& StreamMixInput() {
  static const TBytes bytes = [] {
    std::mt19937 rng(7);
    quarn::test::TLayout layout;
    uint32_t seed = 1;
    while (layout.Bytes().size() < kInputBytes) {
      const TBytes text = quarn::test::MakeText(20000 + rng() % 400000, seed++);
      const int level = static_cast<int>(rng() % 10);
      switch (rng() % 4) {
        case 0: layout.Append(quarn::test::Raw(text, level)); break;
        case 1: layout.Append(quarn::test::Zlib(text, level, 9 + static_cast<int>(rng() % 7), Z_FIXED)); break;
        default: layout.Append(quarn::test::Zlib(text, level, 9 + static_cast<int>(rng() % 7))); break;
      }
      layout.Append(quarn::test::MakeNoise(rng() % 4096, seed++));
    }
    return layout.Bytes();
  }();
  return bytes;
}

void OnePass(benchmark::State& state, const TBytes& input) {
  for (auto _ : state) {
    uint64_t sum = 0;
    for (const uint8_t byte : input) sum += byte;
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(input.size()));
}

void ScanBlock(benchmark::State& state, const TBytes& input, bool headerless) {
  z_stream record{};
  quarn::InflateInit2(&record, -15);
  std::vector<uint8_t> buffer(quarn::kInflateBufferBytes);
  int64_t found = 0;
  for (auto _ : state) {
    quarn::TScanState scan;
    scan.Options.Headerless = headerless;
    quarn::ScanBlock(scan, input.data(), static_cast<int64_t>(input.size()), &record, buffer.data());
    found = scan.Z + scan.hless;
  }
  quarn::InflateEnd(&record);
  state.counters["streams"] = static_cast<double>(found);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(input.size()));
}

void ReferenceLoop(benchmark::State& state, const TBytes& input, bool headerless) {
  int64_t found = 0;
  for (auto _ : state) {
    const auto result =
        quarn::test::ReferenceScan(input.data(), static_cast<int64_t>(input.size()), headerless, false);
    found = result.Z + result.hless;
  }
  state.counters["streams"] = static_cast<double>(found);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(input.size()));
}

void RegisterAll() {
  struct TInput {
    const char* name;
    const TBytes& (*make)();
  };
  for (const TInput input : {TInput{"Random", RandomInput}, TInput{"StreamMix", StreamMixInput}}) {
    const std::string name = input.name;
    benchmark::RegisterBenchmark((name + "/OnePass").c_str(),
                                 [input](benchmark::State& s) { OnePass(s, input.make()); })
        ->Unit(benchmark::kMillisecond);
    for (const bool headerless : {false, true}) {
      const std::string suffix = headerless ? "/Headerless" : "/HeaderOnly";
      benchmark::RegisterBenchmark((name + "/ScanBlock" + suffix).c_str(),
                                   [input, headerless](benchmark::State& s) {
                                     ScanBlock(s, input.make(), headerless);
                                   })
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark((name + "/ReferenceLoop" + suffix).c_str(),
                                   [input, headerless](benchmark::State& s) {
                                     ReferenceLoop(s, input.make(), headerless);
                                   })
          ->Unit(benchmark::kMillisecond);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
