#include "pane_view.h"

#include "console.h"
#include "win/controls.h"

namespace station {
namespace {

// The clock label changes every second; a line every ten seconds is enough to show life.
constexpr auto kClockEvery = std::chrono::seconds(10);

}  // namespace

void PaneView::Reset() {
  pane_ = nullptr;
  captionShown_ = false;
  linesShown_ = 0;
  clock_.clear();
  clockEverShown_ = false;
  progressShown_ = -1;
}

win::HWND PaneView::FindPane(win::HWND parent) {
  if (pane_ && win::IsWindow(pane_)) return pane_;
  pane_ = nullptr;
  if (!parent) return nullptr;
  for (win::HWND child : win::GetChildren(parent)) {
    if (win::GetDlgItem(child, kPaneListId) && win::GetDlgItem(child, kPaneProgressId)) {
      pane_ = child;
      break;
    }
  }
  return pane_;
}

void PaneView::Refresh(win::HWND parent) {
  win::HWND pane = FindPane(parent);
  if (!pane) return;
  if (!captionShown_) {
    captionShown_ = true;
    std::string caption;
    if (win::HWND label = win::GetDlgItem(pane, kPanePortLabelId))
      caption = win::GetWindowText(label);
    Out().Line(source_, "pane opened" + (caption.empty() ? "" : " [" + caption + "]"));
  }
  if (win::HWND list = win::GetDlgItem(pane, kPaneListId)) RefreshList(list);
  if (win::HWND bar = win::GetDlgItem(pane, kPaneProgressId)) RefreshProgress(bar);
  if (win::HWND label = win::GetDlgItem(pane, kPaneClockId)) RefreshClock(label);
}

void PaneView::RefreshList(win::HWND list) {
  const auto state = win::GetListBoxState(list);
  if (!state) return;
  const int count = static_cast<int>(state->items.size());
  // A list that shrank was cleared: start over with its new lines.
  if (count < linesShown_) linesShown_ = 0;
  for (; linesShown_ < count; ++linesShown_) {
    Out().Line(source_, state->items[linesShown_]);
  }
}

void PaneView::RefreshProgress(win::HWND bar) {
  const auto state = win::GetProgressState(bar);
  if (!state) return;
  const int span = state->upper - state->lower;
  if (span <= 0) return;
  const int pos = (state->position - state->lower) * 100 / span;
  if (pos < 0 || pos > 100) return;
  const bool show = progressShown_ < 0 ? pos > 0 : pos / 10 != progressShown_ / 10;
  if (!show) return;
  progressShown_ = pos;
  Out().Line(source_, "progress " + std::to_string(pos) + " %");
}

void PaneView::RefreshClock(win::HWND label) {
  const std::string text = win::GetWindowText(label);
  if (text == clock_) return;
  clock_ = text;
  const auto now = std::chrono::steady_clock::now();
  if (clockEverShown_ ? now - clockShownAt_ < kClockEvery : text == "0 s") return;
  clockEverShown_ = true;
  clockShownAt_ = now;
  Out().Line(source_, "clock " + text);
}

}  // namespace station
