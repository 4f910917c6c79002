// Text that came from a phone or a file, made safe to write into a line of the log, a pane or a
// terminal: it can start no line, move no cursor and send no terminal command.
#pragma once

#include <string>
#include <string_view>

namespace tr52 {

// `text` with every C0 control (tab, CR and LF among them), DEL, C1 control (U+0080 to U+009F)
// and every byte that is not part of valid UTF-8 written as a visible escape "\xHH" (one per
// byte, lower-case hex). Everything else, printable ASCII and other valid UTF-8, is kept.
std::string PrintableText(std::string_view text);

// `text` itself when it is valid UTF-8 (control characters included: a JSON writer escapes
// them), else PrintableText(text). Text fields of machine-readable records take this form: the
// bytes as they came whenever they can be told exactly, and always valid UTF-8.
std::string ValidUtf8Text(std::string_view text);

}  // namespace tr52
