// What the inflated bytes of a stream are, as libmagic tells it from their
// first bytes: a description ("ELF 64-bit LSB executable, ...") and a MIME
// type ("application/x-executable"). Builds without libmagic (Windows)
// tell no type: ContentTypesAvailable says so, and ContentTypeOf gives
// nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quarn {

struct TContentType {
  std::string Description;  // libmagic's text, as file(1) prints it
  std::string Mime;         // libmagic's MIME type, as file --mime-type prints it
};

// How much of a stream's inflated bytes the type is told from.
inline constexpr std::size_t kContentPrefixBytes = 65536;

// True when this build has libmagic and its database loads; else false,
// with the reason in `why` when given.
bool ContentTypesAvailable(std::string* why = nullptr);

// The type of `bytes`, the first `count` bytes of a stream's inflated
// data. Each thread loads its own libmagic handle on its first call (a
// handle is not safe to share) and keeps it until it ends. Null where this
// build has no libmagic or libmagic fails on the bytes; raises nothing.
std::shared_ptr<const TContentType> ContentTypeOf(const uint8_t* bytes, std::size_t count);

}  // namespace quarn
