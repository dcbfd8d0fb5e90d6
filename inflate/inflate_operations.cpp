// The four inflate operations: one flag test, then one forwarded call. They
// run for every candidate position of every file, so they allocate nothing,
// lock nothing and never touch the record themselves.
#include "inflate/engine_binding.h"

namespace quarn {

TEngineBinding EngineBinding;

namespace {

const TLibraryEntries& BoundEntries() {
  return EngineBinding.UseLibraryA ? EngineBinding.EntriesA : EngineBinding.EntriesB;
}

constexpr int kRecordSize = static_cast<int>(sizeof(z_stream));

}  // namespace

int InflateInit2(z_stream* record, int windowBits) {
  if (!EngineBinding.LibraryBound) {
    return inflateInit2_(record, windowBits, kBuiltInVersionText, kRecordSize);
  }
  // The library's own version text, fetched anew for every record, so that
  // its version check always agrees.
  const char* version = EngineBinding.zlibVersion();
  return BoundEntries().inflateInit2_(record, windowBits, version, kRecordSize);
}

int Inflate(z_stream* record, int flush) {
  if (!EngineBinding.LibraryBound) return inflate(record, flush);
  return BoundEntries().inflate(record, flush);
}

int InflateReset(z_stream* record) {
  if (!EngineBinding.LibraryBound) return inflateReset(record);
  return BoundEntries().inflateReset(record);
}

int InflateEnd(z_stream* record) {
  if (!EngineBinding.LibraryBound) return inflateEnd(record);
  return BoundEntries().inflateEnd(record);
}

const char* ServingEngineVersion() {
  if (!EngineBinding.LibraryBound) return zlibVersion();
  return EngineBinding.zlibVersion();
}

}  // namespace quarn
