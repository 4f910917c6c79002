// The record of one download: written by the plug-in, once, when the download ends, and read by
// a host that wants to know more than the result code (what was written to the phone, how, from
// which package, and where it stopped).
//
// Records are JSON lines appended to a file beside the process log (RecordPathFor): one line a
// record, appended with one write by any process that runs downloads. Text that came from a
// phone or a file (model, banner, names, paths) holds the bytes as they came when they are valid
// UTF-8, and their PrintableText form otherwise (ValidUtf8Text). The README describes every
// field.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "session/download_facts.h"

namespace tr52 {

// The grammar's version; a reader takes only records of this version.
inline constexpr int kDownloadRecordVersion = 1;

struct DownloadRecord {
  unsigned hostPid = 0;   // the process that ran the download
  uint64_t download = 0;  // its number among that process's downloads, from 1
  int com = 0;
  std::optional<std::string> port;  // the serial device; none when the port never opened
  std::string started;              // UTC, ISO 8601 ("2025-01-31T08:15:02.047Z")
  std::string ended;
  int result = 0;
  std::string resultName;
  DownloadFacts facts;
};

// "2025-01-31T08:15:02.047Z".
std::string UtcTimestamp(std::chrono::system_clock::time_point when);

// The record file for the log at `logPath`: its name's "_log.txt" (or, without it, its
// extension) becomes "_downloads.jsonl" ("station_log.txt" -> "station_downloads.jsonl").
std::string RecordPathFor(const std::string& logPath);

// The record as one line of JSON, ending in a line feed.
std::string DownloadRecordLine(const DownloadRecord& record);
// A line of the record file (without or with its line feed); nullopt when it is not a record of
// this grammar version.
[[nodiscard]] std::optional<DownloadRecord> ParseDownloadRecord(std::string_view line);

// Appends the record to the file at `path` (created when missing) with one write. On failure
// nothing but a broken line can be left behind, and `error` says why.
[[nodiscard]] bool AppendDownloadRecord(const std::string& path, const DownloadRecord& record,
                                        std::string& error);

}  // namespace tr52
