#include "base/printable_text.h"

#include <gtest/gtest.h>

namespace {

TEST(PrintableText, EscapesControlsAndInvalidUtf8AndKeepsTheRest) {
  struct Row {
    std::string in;
    std::string out;
  };
  const Row rows[] = {
      {"TR52", "TR52"},
      {"", ""},
      {"X\r\n[12:00:00:000]  : [COM5] _NandDownload(AMSS)",
       "X\\x0d\\x0a[12:00:00:000]  : [COM5] _NandDownload(AMSS)"},
      {"\x1b[2J\x07\t", "\\x1b[2J\\x07\\x09"},
      {std::string("a\0b", 3), "a\\x00b"},
      {"\x7f", "\\x7f"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb1", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb1"},
      {"\xc2\x85\xc2\x9b\xc2\xa0", "\\xc2\\x85\\xc2\\x9b\xc2\xa0"},  // C1 escaped, NBSP kept
      {"\xff\xfe", "\\xff\\xfe"},
      {"\xc0\xaf", "\\xc0\\xaf"},                    // overlong '/'
      {"\xe0\x80\xaf", "\\xe0\\x80\\xaf"},           // overlong, three bytes
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},           // surrogate
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},  // beyond U+10FFFF
      {"ab\xe2\x82", "ab\\xe2\\x82"},                // cut at the end
      {"\xe2\x82"
       "A",
       "\\xe2\\x82"
       "A"},              // cut before ASCII
      {"\xbf", "\\xbf"},  // lone continuation byte
  };
  for (const Row& row : rows) EXPECT_EQ(tr52::PrintableText(row.in), row.out) << row.in;
}

TEST(ValidUtf8Text, KeepsValidUtf8WholeAndEscapesTextThatIsNot) {
  struct Row {
    std::string in;
    std::string out;
  };
  const Row rows[] = {
      {"TR52", "TR52"},
      {"X\r\n[12:00:00:000]  : [COM5] x\x1b", "X\r\n[12:00:00:000]  : [COM5] x\x1b"},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
      {"caf\xc3\xa9 \xc2\x85", "caf\xc3\xa9 \xc2\x85"},
      // One bad byte: the whole text as the log shows it.
      {"TR52\r\xff", "TR52\\x0d\\xff"},
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},
  };
  for (const Row& row : rows) EXPECT_EQ(tr52::ValidUtf8Text(row.in), row.out) << row.in;
}

}  // namespace
