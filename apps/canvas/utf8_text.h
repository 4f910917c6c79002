// UTF-8 for the canvases: window texts come from the plug-in and may hold bytes of another
// character set, so every invalid byte becomes one replacement character instead of an error.
#pragma once

#include <string>
#include <string_view>

namespace canvas {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// The code points of `text`; each byte that does not start a valid, shortest-form sequence of a
// code point other than a surrogate becomes U+FFFD.
std::u32string DecodeUtf8(std::string_view text);
std::string EncodeUtf8(std::u32string_view text);

}  // namespace canvas
