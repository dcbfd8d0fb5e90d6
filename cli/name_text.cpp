// Name escaping and base64. The UTF-8 decoder here only measures sequences:
// it says how many bytes from a position form one valid character.
#include "cli/name_text.h"

#include <cstdint>

namespace quarn::cli {
namespace {

// Length of the valid UTF-8 character at `text`[at], 0 when the byte there
// does not start one.
std::size_t Utf8Length(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<uint8_t>(text[at + k]); };
  const std::size_t left = text.size() - at;
  const uint8_t lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length;
  uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (left < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(k) < 0x80 || byte(k) > 0xBF) return 0;
  }
  return length;
}

void AppendHex(std::string& out, uint8_t byte) {
  static const char kDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 15];
}

}  // namespace

std::string EscapeName(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t at = 0; at < name.size();) {
    const auto lead = static_cast<uint8_t>(name[at]);
    const std::size_t length = Utf8Length(name, at);
    if (lead == '\t') {
      out += "\\t";
    } else if (lead == '\n') {
      out += "\\n";
    } else if (lead == '\\') {
      out += "\\\\";
    } else if (length == 0 || lead < 0x20 || lead == 0x7F) {
      AppendHex(out, lead);
    } else if (lead == 0xC2 && static_cast<uint8_t>(name[at + 1]) <= 0x9F) {  // C1 controls
      AppendHex(out, lead);
      AppendHex(out, static_cast<uint8_t>(name[at + 1]));
    } else {
      out.append(name, at, length);
    }
    at += length == 0 ? 1 : length;
  }
  return out;
}

bool IsUtf8(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8Length(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string Base64(const std::string& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t at = 0; at < bytes.size(); at += 3) {
    const std::size_t left = bytes.size() - at;
    uint32_t group = static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) << 16;
    if (left > 1) group |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8;
    if (left > 2) group |= static_cast<uint8_t>(bytes[at + 2]);
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += left > 1 ? kAlphabet[(group >> 6) & 63] : '=';
    out += left > 2 ? kAlphabet[group & 63] : '=';
  }
  return out;
}

}  // namespace quarn::cli
