// The record of a station run that --json writes: one entry per port and a summary.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace station {

enum class PortOutcome { Ok, Failed, Unfinished };
const char* PortOutcomeName(PortOutcome outcome);  // "ok", "failed", "unfinished"

struct ImageReport {
  std::string type;
  std::string method;
  std::optional<uint64_t> size;  // bytes of the package's image
  std::optional<bool> written;   // true once the log shows the write over, null when unknown
};

struct PortReport {
  int com = 0;
  PortOutcome outcome = PortOutcome::Unfinished;
  std::string detail;         // what happened, for people ("no phone appeared", ...)
  std::optional<int> result;  // the download's result code, 0 = success
  std::optional<std::string> resultName;
  std::optional<double> seconds;
  std::optional<std::string> model;
  std::optional<int> flow;  // 1 normal-mode flow, 0 emergency flow
  std::vector<ImageReport> images;
  int downloads = 0;  // phones downloaded on this port during the run (the record is the last)
};

struct RunReport {
  std::vector<PortReport> ports;
  double wallSeconds = 0;
  bool timedOut = false;
  bool interrupted = false;
  std::optional<std::string> package;
  std::string log;
};

// The report as one JSON object: {"ports":[...],"summary":{...}}, ending in a line feed.
std::string RunReportJson(const RunReport& report);

// A JSON string literal for `text`: quotes, backslashes and control characters escaped; bytes
// that are not valid UTF-8 become U+FFFD.
std::string JsonString(std::string_view text);

}  // namespace station
