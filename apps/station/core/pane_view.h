// Reads one port's progress pane (the plug-in's child window inside the port's parent window)
// and prints what changed since the last look: new list lines, the clock (throttled), the bar
// position (in steps of ten points).
#pragma once

#include <chrono>
#include <string>

#include "win/window.h"

namespace station {

// Control ids of the progress pane's dialog template (7001).
constexpr int kPaneTemplateId = 7001;
constexpr int kPanePortLabelId = 7002;
constexpr int kPaneClockId = 7003;
constexpr int kPaneProgressId = 7004;
constexpr int kPaneListId = 7005;

class PaneView {
 public:
  explicit PaneView(std::string source) : source_(std::move(source)) {}

  // Starts watching a freshly opened pane under `parent`.
  void Reset();
  // Looks at the pane under `parent` and prints what is new. Call on the window owner thread.
  void Refresh(win::HWND parent);
  // Last clock text seen ("12 s"), empty before the first.
  const std::string& ClockText() const { return clock_; }
  // True once a pane window was found under the parent.
  bool Found() const { return pane_ != nullptr; }

 private:
  win::HWND FindPane(win::HWND parent);
  void RefreshList(win::HWND list);
  void RefreshClock(win::HWND label);
  void RefreshProgress(win::HWND bar);

  std::string source_;
  win::HWND pane_ = nullptr;
  bool captionShown_ = false;
  int linesShown_ = 0;
  std::string clock_;
  std::chrono::steady_clock::time_point clockShownAt_{};
  bool clockEverShown_ = false;
  int progressShown_ = -1;  // last printed position, -1 = none
};

}  // namespace station
