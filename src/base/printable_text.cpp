#include "base/printable_text.h"

#include <cstdint>

namespace tr52 {
namespace {

// Length of the valid UTF-8 sequence at the start of `s` (shortest form, no surrogates, at most
// U+10FFFF), or 0 when it does not start with one.
size_t Utf8Sequence(std::string_view s) {
  const auto b = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
  const auto tail = [&](size_t i) { return i < s.size() && (b(i) & 0xC0) == 0x80; };
  const uint8_t lead = b(0);
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return tail(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (!tail(1) || !tail(2)) return 0;
    if (lead == 0xE0 && b(1) < 0xA0) return 0;  // overlong
    if (lead == 0xED && b(1) > 0x9F) return 0;  // surrogate
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (!tail(1) || !tail(2) || !tail(3)) return 0;
    if (lead == 0xF0 && b(1) < 0x90) return 0;  // overlong
    if (lead == 0xF4 && b(1) > 0x8F) return 0;  // beyond U+10FFFF
    return 4;
  }
  return 0;
}

bool IsControl(std::string_view seq) {
  const auto lead = static_cast<uint8_t>(seq[0]);
  if (seq.size() == 1) return lead < 0x20 || lead == 0x7F;
  return seq.size() == 2 && lead == 0xC2 && static_cast<uint8_t>(seq[1]) <= 0x9F;  // C1
}

void AppendEscaped(std::string& out, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (const char c : bytes) {
    const auto v = static_cast<uint8_t>(c);
    out += "\\x";
    out += kHex[v >> 4];
    out += kHex[v & 0xF];
  }
}

}  // namespace

std::string PrintableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const size_t n = Utf8Sequence(text);
    const std::string_view seq = text.substr(0, n ? n : 1);
    if (n == 0 || IsControl(seq))
      AppendEscaped(out, seq);
    else
      out.append(seq);
    text.remove_prefix(seq.size());
  }
  return out;
}

std::string ValidUtf8Text(std::string_view text) {
  for (std::string_view rest = text; !rest.empty();) {
    const size_t n = Utf8Sequence(rest);
    if (n == 0) return PrintableText(text);
    rest.remove_prefix(n);
  }
  return std::string(text);
}

}  // namespace tr52
