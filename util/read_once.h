// Single reads of input that may change while it is read.
//
// A mapped file can be rewritten by another process during the scan, and a
// caller's buffer by another thread. A value that decides what the scan
// does (a header byte that selects a counter, say) must be read exactly
// once and then kept: the compiler may otherwise load it again where it is
// used, and see a different byte than the one that was checked. A volatile
// load is made exactly where it stands and never repeated.
#pragma once

#include <cstdint>

namespace quarn {

inline uint8_t ReadOnce(const uint8_t* at) { return *static_cast<const volatile uint8_t*>(at); }

}  // namespace quarn
