#include "day_summary.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "base/printable_text.h"
#include "time_text.h"

namespace history {
namespace {

std::optional<double> Median(std::vector<double> values) {
  if (values.empty()) return std::nullopt;
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

std::string Fixed1(const std::optional<double>& v) {
  if (!v) return "";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", *v);
  return buf;
}

// "1015 ZU3G_ERROR_NO_IMAGE: 3, no progress pane: 1".
std::string FailuresText(const DaySummary& d, const char* between) {
  std::string text;
  for (const auto& [key, count] : d.failures) {
    const std::string name =
        key.first < 0 ? key.second : std::to_string(key.first) + " " + key.second;
    text += (text.empty() ? "" : between) + name + ": " + std::to_string(count);
  }
  return text;
}

}  // namespace

std::vector<DaySummary> SummariseByDay(const std::vector<DownloadRow>& rows) {
  std::map<std::string, DaySummary> days;
  std::map<std::string, std::vector<double>> seconds;
  for (const DownloadRow& r : rows) {
    const std::string day = LocalDay(r.started);
    DaySummary& d = days[day];
    d.day = day;
    ++d.downloads;
    switch (OutcomeOf(r)) {
      case Outcome::kOk:
        ++d.ok;
        break;
      case Outcome::kFailed:
        ++d.failed;
        ++d.failures[{r.result.value_or(-1), r.resultName.value_or(r.result ? "" : "no result")}];
        break;
      case Outcome::kUnfinished:
        ++d.unfinished;
        break;
    }
    if (r.ended && r.seconds) seconds[day].push_back(*r.seconds);
  }
  std::vector<DaySummary> list;
  for (auto& [day, d] : days) {
    d.medianSeconds = Median(std::move(seconds[day]));
    list.push_back(std::move(d));
  }
  return list;
}

std::string SummaryText(const std::vector<DaySummary>& days, Format format) {
  if (format == Format::kJson) {
    nlohmann::json all = nlohmann::json::array();
    for (const DaySummary& d : days) {
      nlohmann::json failures = nlohmann::json::array();
      for (const auto& [key, count] : d.failures)
        failures.push_back(
            {{"result", key.first < 0 ? nlohmann::json(nullptr) : nlohmann::json(key.first)},
             {"result_name", key.second},
             {"count", count}});
      all.push_back({{"day", d.day},
                     {"downloads", d.downloads},
                     {"ok", d.ok},
                     {"failed", d.failed},
                     {"unfinished", d.unfinished},
                     {"median_seconds",
                      d.medianSeconds ? nlohmann::json(*d.medianSeconds) : nlohmann::json(nullptr)},
                     {"failures", failures}});
    }
    return all.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  }
  if (format == Format::kCsv) {
    std::string text = "day,downloads,ok,failed,unfinished,median_seconds,failures\r\n";
    for (const DaySummary& d : days)
      text += d.day + "," + std::to_string(d.downloads) + "," + std::to_string(d.ok) + "," +
              std::to_string(d.failed) + "," + std::to_string(d.unfinished) + "," +
              Fixed1(d.medianSeconds) + "," + CsvField(FailuresText(d, "; "), true) + "\r\n";
    return text;
  }
  std::vector<std::vector<std::string>> cells = {
      {"DAY", "DOWNLOADS", "OK", "FAILED", "UNFINISHED", "MEDIAN S", "FAILURES BY CODE"}};
  for (const DaySummary& d : days) {
    const std::string failures = FailuresText(d, ", ");
    cells.push_back({d.day, std::to_string(d.downloads), std::to_string(d.ok),
                     std::to_string(d.failed), std::to_string(d.unfinished),
                     d.medianSeconds ? Fixed1(d.medianSeconds) : "-",
                     failures.empty() ? "-" : tr52::PrintableText(failures)});
  }
  std::string text = AlignedTable(cells);
  if (days.empty()) text += "(no downloads)\n";
  return text;
}

}  // namespace history
