#include "pane_snapshot.h"

#include <cctype>

#include "pane_view.h"
#include "win/controls.h"

namespace station {

win::HWND FindPaneWindow(win::HWND parent) {
  if (!parent) return nullptr;
  for (win::HWND child : win::GetChildren(parent))
    if (win::GetDlgItem(child, kPaneListId) && win::GetDlgItem(child, kPaneProgressId))
      return child;
  return nullptr;
}

std::optional<PaneSnapshot> ReadPane(win::HWND parent) {
  win::HWND pane = FindPaneWindow(parent);
  if (!pane) return std::nullopt;
  PaneSnapshot snap;
  snap.caption = win::GetWindowText(win::GetDlgItem(pane, kPanePortLabelId));
  snap.clock = win::GetWindowText(win::GetDlgItem(pane, kPaneClockId));
  if (auto list = win::GetListBoxState(win::GetDlgItem(pane, kPaneListId))) {
    snap.lines = std::move(list->items);
    snap.selected = list->curSel;
  }
  if (!win::GetProgressLook(win::GetDlgItem(pane, kPaneProgressId), snap.bar)) return std::nullopt;
  snap.outcome = OutcomeOfLines(snap.lines);
  return snap;
}

PaneOutcome OutcomeOfLines(const std::vector<std::string>& lines) {
  if (lines.empty()) return PaneOutcome::kRunning;
  const std::string& last = lines.back();
  size_t i = 0;
  while (i < last.size() && std::isdigit(static_cast<unsigned char>(last[i]))) ++i;
  if (i == 0 || i >= last.size() || last[i] != '.') return PaneOutcome::kRunning;
  const std::string text = last.substr(i + 1);
  if (text == "OK") return PaneOutcome::kSucceeded;
  if (text.rfind("-.ERROR ", 0) == 0 || text == "-.Unknown") return PaneOutcome::kFailed;
  return PaneOutcome::kRunning;
}

}  // namespace station
