// One download in the history: written when the download starts (who, where, when) and
// completed when it ends (what the phone was, what went onto it, how it ended). A row that was
// never completed is an unfinished download: the station stopped or the machine went down
// while it ran.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/printable_text.h"

namespace history {

// Text as the history keeps it: the bytes as they came when they are valid UTF-8 without a NUL
// byte, else with every control character and stray byte written as "\xHH". Both databases
// take it, and a JSON writer never refuses it.
inline std::string StoredText(std::string_view text) {
  return text.find('\0') == std::string_view::npos ? tr52::ValidUtf8Text(text)
                                                   : tr52::PrintableText(text);
}

struct DownloadRow {
  // Unique across every station of a line; the line database is kept by it.
  std::string uid;
  std::string station;  // the station's id (its host name unless given)
  int com = 0;
  std::optional<std::string> usbPosition;  // the phone's hub port (udev's path of the device)
  std::optional<std::string> usbSerial;    // the phone's USB serial number, when it reports one
  std::optional<std::string> device;       // the serial device the download opened
  std::optional<std::string> model;        // as the phone sent it
  std::optional<std::string> banner;
  std::optional<int64_t> flow;  // 1 normal-mode flow, 0 emergency flow
  std::optional<std::string> packagePath;
  std::optional<std::string> packageMd5;
  std::string images = "[]";      // JSON array: type, name, method, address, size, md5, written
  std::optional<int64_t> result;  // 0 success; none when the download gave no code
  std::optional<std::string> resultName;
  std::optional<std::string> endStep;
  std::string started;               // UTC, ISO 8601 with milliseconds
  std::optional<std::string> ended;  // none while unfinished
  std::optional<double> seconds;
  std::optional<int64_t> hostPid;   // the station process
  std::optional<int64_t> download;  // the download's number in the plug-in's records

  // 1 when written at the start, 2 once completed: the line database keeps the newest.
  int64_t version = 1;
};

enum class Outcome { kOk, kFailed, kUnfinished };

// Unfinished until it ended; then ok only with result code 0.
inline Outcome OutcomeOf(const DownloadRow& row) {
  if (!row.ended) return Outcome::kUnfinished;
  return row.result == 0 ? Outcome::kOk : Outcome::kFailed;
}

inline const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kOk:
      return "ok";
    case Outcome::kFailed:
      return "failed";
    case Outcome::kUnfinished:
      break;
  }
  return "unfinished";
}

}  // namespace history
