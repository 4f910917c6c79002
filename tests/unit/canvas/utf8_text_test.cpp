#include "utf8_text.h"

#include <gtest/gtest.h>

namespace {

using canvas::DecodeUtf8;
using canvas::EncodeUtf8;
constexpr char32_t X = canvas::kReplacementCharacter;

TEST(Utf8Text, EachInvalidByteBecomesOneReplacementCharacter) {
  struct Case {
    const char* name;
    std::string in;
    std::u32string out;
  };
  const Case cases[] = {
      {"ASCII", "ok 5 %", U"ok 5 %"},
      {"two bytes", "\xC3\xA9", U"\u00E9"},
      {"Hangul, three bytes", "\xEA\xB0\x80", U"\uAC00"},
      {"four bytes", "\xF0\x9F\x98\x80", U"\U0001F600"},
      {"code page 949 bytes", "\xB0\xA1", {X, X}},
      {"overlong", "\xC0\x80", {X, X}},
      {"surrogate", "\xED\xA0\x80", {X, X, X}},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", {X, X, X, X}},
      {"cut at the end", "a\xE4\xB8", {U'a', X, X}},
      {"continuation without a lead", "\x80z", {X, U'z'}},
      {"lead followed by ASCII", "\xC3(", {X, U'('}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecodeUtf8(c.in), c.out);
    EXPECT_EQ(DecodeUtf8(EncodeUtf8(c.out)), c.out);
  }
  EXPECT_EQ(EncodeUtf8(U"\uAC00\U0001F600"), "\xEA\xB0\x80\xF0\x9F\x98\x80");
  EXPECT_EQ(EncodeUtf8(std::u32string{0xD800, 0x110000}), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
