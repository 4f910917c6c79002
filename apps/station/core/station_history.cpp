#include "station_history.h"

#include <algorithm>

#include "base/printable_text.h"
#include "console.h"
#include "history/history_output.h"
#include "history/history_paths.h"
#include "history/time_text.h"

namespace station {
namespace {

using Steady = std::chrono::steady_clock;

std::string HistoryPathFor(const Options& options) {
  if (options.noHistory) return "";
  return options.historyPath.empty() ? history::DefaultHistoryPath() : options.historyPath;
}

std::unique_ptr<history::HistoryRecorder> MakeRecorder(const Options& options) {
  if (options.noHistory) return nullptr;
  const std::string path = HistoryPathFor(options);
  if (path.empty()) {
    Out().Line("history", "off: no home folder to keep it in (give --history PATH)");
    return nullptr;
  }
  history::RecorderSettings settings;
  settings.stationId = options.stationId.empty() ? history::DefaultStationId() : options.stationId;
  settings.writer.path = path;
  settings.identify = history::IdentifyPort;
  if (!options.historyUrl.empty()) {
    // The pauses between tries to reach the line database shrink with the time scale, as the
    // waits of a download do (virtual phones, demos).
    const double scale = options.timeScale > 0 ? options.timeScale : 1.0;
    auto scaled = [scale](int ms, int least) {
      return std::chrono::milliseconds(std::max(least, static_cast<int>(ms / scale)));
    };
    history::SenderSettings line;
    line.url = options.historyUrl;
    line.retryFirst = scaled(1000, 50);
    line.retryMost = scaled(30000, 200);
    settings.line = line;
  }
  Out().Line("history", "recording downloads in " + path + " as station " +
                            tr52::PrintableText(settings.stationId) +
                            (options.historyUrl.empty()
                                 ? std::string()
                                 : ", sent on to " + history::RedactedUrl(options.historyUrl)));
  return std::make_unique<history::HistoryRecorder>(
      std::move(settings), [](const std::string& text) { Out().Line("history", text); });
}

// "01-31 09:15" of a row's end (its start while unfinished).
std::string ShortTime(const history::DownloadRow& row) {
  const std::string local = history::LocalTimeText(row.ended.value_or(row.started));
  return local.size() >= 16 ? local.substr(5, 11) : local;
}

}  // namespace

std::string HistoryInfo(const Options& options) {
  const std::string path = HistoryPathFor(options);
  if (path.empty())
    return options.noHistory ? "history           off"
                             : "history           off (no home folder; give --history)";
  std::string text = "history           " + path + " (station " +
                     tr52::PrintableText(options.stationId.empty() ? history::DefaultStationId()
                                                                   : options.stationId) +
                     ")";
  if (!options.historyUrl.empty())
    text += ", sent on to " + history::RedactedUrl(options.historyUrl);
  return text;
}

std::string LastDownloadLabel(const history::DownloadRow& row, bool otherPort) {
  std::string result;
  switch (history::OutcomeOf(row)) {
    case history::Outcome::kOk:
      result = "OK";
      break;
    case history::Outcome::kUnfinished:
      result = "unfinished";
      break;
    case history::Outcome::kFailed:
      result = row.result ? "FAILED " + std::to_string(*row.result) : "FAILED";
      break;
  }
  return std::string(otherPort ? "this phone: " : "last: ") + result + " " + ShortTime(row);
}

std::string PreviousDownloadText(const history::DownloadRow& now,
                                 const std::optional<history::DownloadRow>& previous) {
  const std::string phone =
      now.usbSerial ? "this phone (USB serial " + tr52::PrintableText(*now.usbSerial) + ")" : "";
  if (!previous)
    return phone.empty() ? "" : "history: no earlier download of " + phone + " on record";
  const history::DownloadRow& p = *previous;
  std::string text =
      "history: " +
      (phone.empty() ? std::string("the last download on this port") : phone + "'s last download") +
      " began " + history::LocalTimeText(p.started);
  if (p.station != now.station || p.com != now.com)
    text += " at " + tr52::PrintableText(p.station) + " COM" + std::to_string(p.com);
  text += ": " + tr52::PrintableText(history::ResultText(p));
  if (p.model) text += ", model " + tr52::PrintableText(*p.model);
  if (p.packageMd5) text += ", package " + p.packageMd5->substr(0, 8);
  return text;
}

StationHistory::StationHistory(const Options& options) : recorder_(MakeRecorder(options)) {
  ShowPorts(options.ports);
}

StationHistory::StationHistory(std::unique_ptr<history::HistoryRecorder> recorder,
                               const std::vector<int>& ports)
    : recorder_(std::move(recorder)) {
  ShowPorts(ports);
}

StationHistory::~StationHistory() {
  Close();
}

void StationHistory::ShowPorts(const std::vector<int>& ports) {
  if (!recorder_) return;
  for (int port : ports)
    recorder_->LastOnPort(port, [this, name = PortName(port)](auto row) {
      if (row) board_.Set(name, LastDownloadLabel(*row, false));
    });
}

void StationHistory::Started(PortSlot& slot) {
  if (!recorder_ || slot.sessions.Empty()) return;
  slot.sessions.Last().historyUid =
      recorder_->Started(slot.port, [this, name = slot.name](const auto& now, const auto& prev) {
        const std::string text = PreviousDownloadText(now, prev);
        if (!text.empty()) Out().Line(name, text);
        if (prev) {
          const bool otherPort = prev->station != now.station || prev->com != now.com;
          board_.Set(name, LastDownloadLabel(*prev, otherPort));
        }
      });
}

void StationHistory::Ended(const PortSlot& slot) {
  if (!recorder_ || slot.sessions.Empty()) return;
  const SessionRecord& session = slot.sessions.Last();
  if (session.historyUid.empty()) return;
  history::DownloadEnd end;
  if (session.hasResult) {
    end.result = ResultCodeOfWord(session.result);
    if (!end.result) end.whyNoResult = "unknown step notice";
  } else if (session.refused) {
    end.whyNoResult = "no progress pane";
  }
  end.seconds = std::chrono::duration<double>(session.ended - session.started).count();
  end.record = session.record;
  board_.Set(slot.name, LastDownloadLabel(recorder_->Ended(session.historyUid, end), false));
}

void StationHistory::Close() {
  if (recorder_) recorder_->Close();
}

}  // namespace station
