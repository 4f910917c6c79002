#include "text_front_end.h"

#include <iostream>
#include <string>

#include "console.h"

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
    std::string line;
    const bool got = static_cast<bool>(std::getline(std::cin, line));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (got && !line.empty()) {
      win::SetWindowText(edit, line);
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

}  // namespace station
