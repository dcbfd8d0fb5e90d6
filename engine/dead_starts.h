// Positions where no complete stream can start, learnt from trials that
// ended without one.
//
// A trial that passes a block start on a byte boundary decodes from there
// just what a trial started there decodes: the same bits, in the same
// blocks. Only the output before that start differs, and it matters only
// to a match that reaches back past the start, which the later trial, with
// less output behind it, rejects ("invalid distance too far back") where
// the earlier one may not. So where the earlier trial ran out of input or
// failed, a trial from such a start runs out or fails too, at the same
// point or sooner, and never ends a stream. Where only complete streams
// count, the scan rejects those positions without trials of their own: a
// stream that is flushed block by block and never ends (cut short, a
// capture of a live connection) is then inflated once, not once per block.
//
// The positions hold for the whole block the trials read, whoever scans
// it: a scan that goes on in several calls (stretch after stretch, chunk
// after chunk on one path) keeps one list for all of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quarn::detail {

class TDeadStarts {
 public:
  // The most positions kept: 8 MiB. Past them, positions are tried as any
  // other position is.
  static constexpr std::size_t kMaxStarts = std::size_t{1} << 20;

  // True when `pos` is one of those positions. Positions are asked in
  // ascending order; those before `pos` are forgotten.
  bool Contains(int64_t pos) {
    while (next_ < starts_.size() && starts_[next_] < pos) ++next_;
    return next_ < starts_.size() && starts_[next_] == pos;
  }

  // Adds the aligned block starts (`offsets` from `from`, ascending) that a
  // trial from `from` passed before it ended without a stream. Where the
  // trial meets a start already known, it goes on as the trial that passed
  // that start did, whose later starts are known already; the nearest
  // kMaxStarts are kept.
  void Add(int64_t from, std::span<const uint64_t> offsets);

 private:
  std::vector<int64_t> starts_;  // ascending; those from starts_[next_] on lie at or after the scan
  std::size_t next_ = 0;
  std::vector<int64_t> added_;   // scratch of Add
  std::vector<int64_t> merged_;  // scratch of Add
};

}  // namespace quarn::detail
