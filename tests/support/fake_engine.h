// A stand-in for an external zlib library, for the tests of what the scan
// does when one serves the run: the built-in zlib's own entries are bound
// as if a library had been loaded (so every trial goes to that engine, with
// no filter and no fast path in front of it), with the inflate and reset
// entries replaceable. The binding that was there comes back when the
// guard ends, whatever the test raised meanwhile.
#pragma once

#include <zlib.h>

#include "inflate/engine_binding.h"

namespace quarn::test {

class TFakeEngine {
 public:
  explicit TFakeEngine(TInflateEntry inflateEntry = &inflate, TStreamEntry resetEntry = &inflateReset)
      : saved_(EngineBinding) {
    EngineBinding.LibraryBound = true;
    EngineBinding.UseLibraryA = true;
    EngineBinding.zlibVersion = &zlibVersion;
    EngineBinding.EntriesA.inflateInit2_ = &inflateInit2_;
    EngineBinding.EntriesA.inflate = inflateEntry;
    EngineBinding.EntriesA.inflateReset = resetEntry;
    EngineBinding.EntriesA.inflateEnd = &inflateEnd;
  }
  ~TFakeEngine() { EngineBinding = saved_; }
  TFakeEngine(const TFakeEngine&) = delete;
  TFakeEngine& operator=(const TFakeEngine&) = delete;

 private:
  TEngineBinding saved_;
};

}  // namespace quarn::test
