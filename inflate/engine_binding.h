// The inflate engine that serves this run, and the four inflate operations
// that the scan uses.
//
// Nothing in the scan calls zlib directly. It calls InflateInit2, Inflate,
// InflateReset and InflateEnd, which forward to the built-in zlib (linked
// statically into the program) or, when the start-up probe bound one, to an
// external zlib library. `EngineBinding` is written once at start-up, before
// any stream record exists, and only read afterwards, so the operations take
// no lock and can be called from every worker thread on distinct records.
//
// The operations add nothing to zlib: they return its status code unchanged
// (0 Z_OK, 1 Z_STREAM_END, 2 Z_NEED_DICT, -2 .. -6 errors) and never raise.
#pragma once

#include <zlib.h>

namespace quarn {

// zlib's entry points, with the calling convention both engines share.
using TZlibVersionEntry = const char* (*)();
using TDeflateInit2Entry = int (*)(z_stream*, int level, int method, int windowBits,
                                   int memLevel, int strategy, const char* version,
                                   int streamSize);
using TDeflateEntry = int (*)(z_stream*, int flush);
using TStreamEntry = int (*)(z_stream*);
using TInflateInit2Entry = int (*)(z_stream*, int windowBits, const char* version,
                                   int streamSize);
using TInflateEntry = int (*)(z_stream*, int flush);
using TAdler32Entry = unsigned long (*)(unsigned long adler, const unsigned char* buf,
                                        unsigned int len);
using TDeflateTuneEntry = int (*)(z_stream*, int goodLength, int maxLazy, int niceLength,
                                  int maxChain);

// The nine entries taken from one library besides the shared zlibVersion.
struct TLibraryEntries {
  TDeflateInit2Entry deflateInit2_ = nullptr;
  TDeflateEntry deflate = nullptr;
  TStreamEntry deflateEnd = nullptr;
  TInflateInit2Entry inflateInit2_ = nullptr;
  TInflateEntry inflate = nullptr;
  TStreamEntry inflateEnd = nullptr;
  TStreamEntry inflateReset = nullptr;
  TAdler32Entry adler32 = nullptr;
  TDeflateTuneEntry deflateTune = nullptr;
};

// An opaque handle of a loaded library; null when the slot holds none.
using TLibraryHandle = void*;

struct TEngineBinding {
  bool LibraryBound = false;  // an external library serves this run
  bool UseLibraryA = false;   // which one: library A, else library B
  TLibraryHandle LibraryA = nullptr;
  TLibraryHandle LibraryB = nullptr;
  TZlibVersionEntry zlibVersion = nullptr;  // the chosen library's
  TLibraryEntries EntriesA;
  TLibraryEntries EntriesB;
};

// Process-wide; written only by the start-up probe.
extern TEngineBinding EngineBinding;

// The version text handed to the built-in engine's inflateInit2_: the zlib
// interface the program is written against. zlib compares only its first
// character with its own version, so any zlib 1.x accepts it; the filters'
// tie to one release is checked apart from this (candidate_filter.cpp).
inline constexpr const char kBuiltInVersionText[] = "1.2.11";

// Starts `record` (zero-filled by the caller) for inflate with `windowBits`
// (-15: raw deflate, 32 KiB window). The serving engine gets its own version
// text and this platform's sizeof(z_stream).
int InflateInit2(z_stream* record, int windowBits);
// One zlib inflate call with `flush` (the scan uses 2, Z_SYNC_FLUSH).
int Inflate(z_stream* record, int flush);
// Back to the start of a stream; keeps the engine's memory for the record.
int InflateReset(z_stream* record);
// Releases the engine's memory for the record.
int InflateEnd(z_stream* record);

// The version text of the engine that serves this run.
const char* ServingEngineVersion();

}  // namespace quarn
