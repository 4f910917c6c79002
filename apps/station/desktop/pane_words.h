// What the desktop station says in words: a pane as one sentence for screen readers ("COM 5,
// flashing AMSS, 45 percent") and the counts of the header's summary.
#pragma once

#include <optional>
#include <string>

#include "core/pane_snapshot.h"

namespace station {

// The bar's position in percent, rounded as the bar's own " NN %" text rounds it.
int PanePercent(const win::ProgressState& bar);

// "COM 5, flashing AMSS, 45 percent": the pane's caption (else the port's name with a space
// before its number), the newest step without its number (a first word in capitals said as a
// word: "flashing"), and the bar; a finished pane says "finished OK" or "failed, ERROR 1015, 5
// percent"; a port without a pane yet says "waiting for a phone".
std::string SpokenPane(const std::string& portName, const std::optional<PaneSnapshot>& snap);

struct PaneCounts {
  int running = 0;
  int ok = 0;
  int failed = 0;
  bool operator==(const PaneCounts&) const = default;
};

// "2 running · 1 OK · 1 failed", leaving out what is 0; "waiting for phones" when all are.
std::string SummaryText(const PaneCounts& counts);

}  // namespace station
