// The comparison, field by field. It lists every difference it finds
// rather than stopping at the first, so that one failing case tells the
// whole story.
#include "tests/support/scan_comparison.h"

#include <algorithm>
#include <sstream>

namespace quarn::test {
namespace {

template <typename T>
void Compare(std::ostringstream& out, const std::string& what, const T& got, const T& want) {
  if (got != want) out << what << " is " << +got << ", the reference says " << +want << "\n";
}

}  // namespace

TScanResult ResultOf(const TScanState& state, std::vector<TFoundStream> streams) {
  TScanResult r;
  r.zin = state.zin.load();
  r.zout = state.zout.load();
  r.hless = state.hless.load();
  r.Z = state.Z.load();
  for (std::size_t f = 0; f < 4; ++f) r.l[f] = state.l[f].load();
  for (int k = TWindowCounters::kFirst; k <= TWindowCounters::kLast; ++k) r.w[k] = state.w[k].load();
  r.streams = std::move(streams);
  return r;
}

std::string StreamDifferences(const std::vector<TFoundStream>& got, const std::vector<TFoundStream>& want) {
  std::ostringstream out;
  Compare(out, "the number of streams", got.size(), want.size());
  const std::size_t both = std::min(got.size(), want.size());
  for (std::size_t n = 0; n < both; ++n) {
    const TFoundStream& g = got[n];
    const TFoundStream& r = want[n];
    const std::string stream = "stream " + std::to_string(n) + " at " + std::to_string(r.OffsetBytes) + ": ";
    Compare(out, stream + "OffsetBytes", g.OffsetBytes, r.OffsetBytes);
    Compare(out, stream + "HasHeader", g.HasHeader, r.HasHeader);
    Compare(out, stream + "CINFO", g.CINFO, r.CINFO);
    Compare(out, stream + "FLEVEL", g.FLEVEL, r.FLEVEL);
    Compare(out, stream + "InBytes", g.InBytes, r.InBytes);
    Compare(out, stream + "OutBytes", g.OutBytes, r.OutBytes);
    Compare(out, stream + "Complete", g.Complete, r.Complete);
  }
  return out.str();
}

std::string Differences(const TScanResult& got, const TScanResult& want) {
  std::ostringstream out;
  Compare(out, "zin", got.zin, want.zin);
  Compare(out, "zout", got.zout, want.zout);
  Compare(out, "hless", got.hless, want.hless);
  Compare(out, "Z", got.Z, want.Z);
  for (std::size_t f = 0; f < 4; ++f) Compare(out, "l[" + std::to_string(f) + "]", got.l[f], want.l[f]);
  for (int k = TWindowCounters::kFirst; k <= TWindowCounters::kLast; ++k) {
    Compare(out, "w[" + std::to_string(k) + "]", got.w[k], want.w[k]);
  }
  return out.str() + StreamDifferences(got.streams, want.streams);
}

}  // namespace quarn::test
