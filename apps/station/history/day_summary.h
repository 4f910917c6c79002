// The history by local day: downloads, how many passed, failed or never finished, the failures
// by result code, and the median seconds of the finished downloads.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "download_row.h"
#include "history_output.h"

namespace history {

struct DaySummary {
  std::string day;  // local, "2025-01-31"
  int64_t downloads = 0, ok = 0, failed = 0, unfinished = 0;
  // (code, name) -> failures; code -1 for a failure without one, named by why.
  std::map<std::pair<int64_t, std::string>, int64_t> failures;
  std::optional<double> medianSeconds;
};

// One entry per day that has downloads, oldest first.
std::vector<DaySummary> SummariseByDay(const std::vector<DownloadRow>& rows);

std::string SummaryText(const std::vector<DaySummary>& days, Format format);

}  // namespace history
