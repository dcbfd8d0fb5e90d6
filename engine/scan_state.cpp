// Moving the scan's counters between their atomic form and the plain value.
#include "engine/scan_state.h"

namespace quarn {
namespace {

void AddIfAny(std::atomic<int64_t>& counter, int64_t count) {
  if (count != 0) counter.fetch_add(count);
}

}  // namespace

void TScanState::Add(const TStreamCounts& counts) {
  AddIfAny(i, counts.i);
  AddIfAny(zout, counts.zout);
  AddIfAny(zin, counts.zin);
  AddIfAny(hless, counts.hless);
  AddIfAny(Z, counts.Z);
  for (std::size_t f = 0; f < l.size(); ++f) AddIfAny(l[f], counts.l[f]);
  for (int k = TWindowCounters::kFirst; k <= TWindowCounters::kLast; ++k) AddIfAny(w[k], counts.WindowBits(k));
  AddIfAny(Files, counts.Files);
  for (std::size_t k = 0; k < proven.size(); ++k) AddIfAny(proven[k], counts.proven[k]);
  AddIfAny(provenOut, counts.provenOut);
}

TStreamCounts TScanState::Counts() const {
  TStreamCounts counts;
  counts.i = i.load();
  counts.zout = zout.load();
  counts.zin = zin.load();
  counts.hless = hless.load();
  counts.Z = Z.load();
  for (std::size_t f = 0; f < l.size(); ++f) counts.l[f] = l[f].load();
  for (int k = TWindowCounters::kFirst; k <= TWindowCounters::kLast; ++k) counts.WindowBits(k) = w[k].load();
  counts.Files = Files.load();
  for (std::size_t k = 0; k < proven.size(); ++k) counts.proven[k] = proven[k].load();
  counts.provenOut = provenOut.load();
  return counts;
}

}  // namespace quarn
