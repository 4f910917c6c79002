// Message boxes and file choosers asked for by any thread (the plug-in's download threads
// among them), shown by a front end on the thread of its own window: the asking thread sends
// the request to that window and waits for the answer. While the station stops nobody is there
// to answer: a box is answered at once and kept as a line, a chooser is cancelled.
#pragma once

#include <optional>
#include <string>

#include "win/window.h"

namespace station {

// The messages a front end's window gets; lParam points at the request below.
inline constexpr win::UINT kShowMessageBox = win::WM_APP + 0x200;
inline constexpr win::UINT kChooseFile = win::WM_APP + 0x201;

struct MessageBoxRequest {
  std::string caption;
  std::string text;
  win::UINT type = 0;
};
struct ChooseFileRequest {
  win::OpenFileRequest request;
  std::optional<std::string> result;
};

// Shows a box through `window` (null: the front end is gone) and returns its answer (IDOK).
int SendMessageBox(win::HWND window, bool stopping, const std::string& text,
                   const std::string& caption, win::UINT type);
// Runs a file chooser through `window`; the chosen path, or nullopt when cancelled.
std::optional<std::string> SendChooseFile(win::HWND window, bool stopping,
                                          const win::OpenFileRequest& request);

}  // namespace station
