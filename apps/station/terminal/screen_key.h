// A key as the full-screen front end's boxes see it, whatever the terminal sent.
#pragma once

namespace station {

enum class KeyKind {
  kChar,  // a printable character in `ch`
  kUp,
  kDown,
  kPageUp,
  kPageDown,
  kHome,
  kEnd,
  kTab,
  kBackTab,
  kEnter,
  kEscape,
  kBackspace,
  kClearLine,  // Ctrl-U
  kResize,
  kOther,
};

struct Key {
  KeyKind kind = KeyKind::kOther;
  char32_t ch = 0;
};

inline Key CharKey(char32_t ch) {
  return Key{KeyKind::kChar, ch};
}

}  // namespace station
