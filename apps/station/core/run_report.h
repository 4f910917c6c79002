// The record of a station run that --json writes: one entry per port and a summary. What the
// plug-in's operations tell (results, times) comes from the station; everything else (model,
// flow, images, package) from the plug-in's record of each port's last download.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "session/download_record.h"

namespace station {

enum class PortOutcome { Ok, Failed, Unfinished };
const char* PortOutcomeName(PortOutcome outcome);  // "ok", "failed", "unfinished"

struct PortReport {
  int com = 0;
  PortOutcome outcome = PortOutcome::Unfinished;
  std::string detail;         // what happened, for people ("no phone appeared", ...)
  std::optional<int> result;  // the download's result code, 0 = success
  std::optional<std::string> resultName;
  std::optional<double> seconds;
  int downloads = 0;  // phones downloaded on this port during the run (the record is the last)
  // The plug-in's record of the last download; none when it wrote none.
  std::optional<tr52::DownloadRecord> record;
};

struct RunReport {
  std::vector<PortReport> ports;
  double wallSeconds = 0;
  bool timedOut = false;
  bool interrupted = false;
  std::string log;      // the plug-in's log
  std::string records;  // the plug-in's record file
};

// The report as one JSON object: {"ports":[...],"summary":{...}}, ending in a line feed. A field
// that does not apply (no result yet, no record) is null.
std::string RunReportJson(const RunReport& report);

}  // namespace station
