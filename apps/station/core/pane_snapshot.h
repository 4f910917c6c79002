// What a progress pane shows, read from the plug-in's pane window in one piece: caption, clock,
// step list and bar, and the outcome its last line tells. Front ends that draw panes keep the
// last snapshot of a port, so a finished pane stays readable after the station closed it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "win/progress_paint.h"
#include "win/window.h"

namespace station {

enum class PaneOutcome { kRunning, kSucceeded, kFailed };

struct PaneSnapshot {
  std::string caption;             // the port label, "COM 5"
  std::string clock;               // "12 s"
  std::vector<std::string> lines;  // the numbered step list
  int selected = -1;               // the list's selected line (the newest), -1: none
  win::ProgressLook bar;
  PaneOutcome outcome = PaneOutcome::kRunning;
};

// The pane window under `parent` (a child holding the step list and the bar), or nullptr.
win::HWND FindPaneWindow(win::HWND parent);
// The snapshot of the pane under `parent`; nullopt when there is none.
std::optional<PaneSnapshot> ReadPane(win::HWND parent);
// The outcome told by the last line of a step list: "n.OK" is a success, "n.-.ERROR <code> "
// and "n.-.Unknown" a failure; anything else means the download still runs.
PaneOutcome OutcomeOfLines(const std::vector<std::string>& lines);

}  // namespace station
