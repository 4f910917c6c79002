#include "base/progress_sink.h"

#include <cstdarg>
#include <cstdio>

namespace tr52 {

int ProgressSink::WebDLFunction(int kind, const char* format, ...) {
  char text[kMaxText + 1];
  va_list args;
  va_start(args, format);
  const int wanted = std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  if (wanted < 0) {
    text[0] = '\0';
    return 0;
  }
  const int length = wanted > kMaxText ? kMaxText : wanted;
  ShowText(kind, text, length);
  return length;
}

}  // namespace tr52
