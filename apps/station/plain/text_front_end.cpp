#include "text_front_end.h"

#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/console.h"
#include "core/stop_control.h"

namespace station {

int TextFrontEnd::ShowMessageBox(win::HWND /*owner*/, const std::string& text,
                                 const std::string& caption, win::UINT /*type*/) {
  Out().Line("message", (caption.empty() ? "" : caption + ": ") + text);
  return win::IDOK;
}

void TextFrontEnd::ModalDialogStarted(win::HWND dialog) {
  int button = win::IDCANCEL;
  win::HWND edit = win::GetDlgItem(dialog, kConfigPathEditId);
  if (edit) {
    ++configDialogs_;
    Out().Raw(win::GetWindowText(dialog) + "\nPackage path (.dz) now: " + win::GetWindowText(edit) +
              "\nNew package path (empty line keeps it): ");
    auto line = ReadLine();
    if (line && !line->empty() && line->back() == '\r') line->pop_back();
    if (line && !line->empty()) {
      win::SetWindowText(edit, *line);
      button = win::IDOK;
    }
    Out().Raw(button == win::IDOK ? "Saved.\n" : "\nUnchanged.\n");
  } else {
    Out().Line("station", "cancelled dialog \"" + win::GetWindowText(dialog) + "\"");
  }
  // The dialog's own loop handles the button once it runs.
  win::PostMessage(dialog, win::WM_COMMAND, static_cast<win::WPARAM>(button),
                   reinterpret_cast<win::LPARAM>(win::GetDlgItem(dialog, button)));
}

std::optional<std::string> TextFrontEnd::ReadLine() const {
  // Byte by byte from the descriptor: nothing is read ahead of the line, and a stop or the
  // deadline ends the wait (the window thread is not in its loop meanwhile).
  std::string line;
  for (;;) {
    if (stop_ && !stop_->WaitForInput(STDIN_FILENO)) return std::nullopt;
    char c = 0;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return line.empty() ? std::nullopt : std::optional<std::string>(line);
    if (c == '\n') return line;
    line += c;
  }
}

}  // namespace station
