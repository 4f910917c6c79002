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

}  // namespace tr52
