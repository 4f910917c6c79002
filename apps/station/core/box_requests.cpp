#include "box_requests.h"

#include "console.h"

namespace station {

int SendMessageBox(win::HWND window, bool stopping, const std::string& text,
                   const std::string& caption, win::UINT type) {
  if (stopping) {
    // A download waiting in a box would keep the stop waiting: answered at once, as in plain
    // mode, and kept as a line.
    Out().Line("message", (caption.empty() ? "" : caption + ": ") + text);
    return win::IDOK;
  }
  if (!window) return win::IDOK;
  MessageBoxRequest r{caption, text, type};
  // From the window's thread the box runs at once; from a worker the worker waits for it.
  win::SendMessage(window, kShowMessageBox, 0, reinterpret_cast<win::LPARAM>(&r));
  return win::IDOK;
}

std::optional<std::string> SendChooseFile(win::HWND window, bool stopping,
                                          const win::OpenFileRequest& request) {
  if (stopping || !window) return std::nullopt;
  ChooseFileRequest r{request, std::nullopt};
  win::SendMessage(window, kChooseFile, 0, reinterpret_cast<win::LPARAM>(&r));
  return r.result;
}

}  // namespace station
