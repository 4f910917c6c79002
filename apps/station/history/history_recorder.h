// The history as the station uses it: a row when a download starts, its completion when it
// ends, and the newest download of a port or phone; the file written by a thread of its own and,
// with a line database, sent on from there by another. Nothing here waits for a file or a
// server: a download and the station's loop never slow down for the history.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "download_end.h"
#include "history_writer.h"
#include "outbox_sender.h"
#include "port_identity.h"

namespace history {

struct RecorderSettings {
  std::string stationId;
  WriterSettings writer;               // the file (writer.committed is the recorder's)
  std::optional<SenderSettings> line;  // the line database, when there is one
  // The USB identity of a COM port; none: rows carry only the COM number.
  std::function<PortIdentity(int com)> identify;
};

class HistoryRecorder {
 public:
  HistoryRecorder(RecorderSettings settings, Notice notice);
  ~HistoryRecorder();
  HistoryRecorder(const HistoryRecorder&) = delete;
  HistoryRecorder& operator=(const HistoryRecorder&) = delete;

  // A download on `com` started now; returns its row's uid. `previous` (optional) is given, on
  // the history's thread, the row as written (with its USB identity) and the newest earlier
  // download of the same phone (USB serial), else hub port, else COM number at this station.
  std::string Started(int com, HistoryWriter::Previous previous = {});
  // The download `uid` ended; returns the end as it is written (the row's end fields).
  DownloadRow Ended(const std::string& uid, const DownloadEnd& end);
  // The newest download on `com` at this station, given to `answer` on the history's thread.
  void LastOnPort(int com, std::function<void(std::optional<DownloadRow>)> answer);

  // Writes what is queued, gives the line database a last round, and stops both threads.
  // Idempotent.
  void Close();

  HistoryWriter& Writer() { return *writer_; }

 private:
  RecorderSettings settings_;
  std::unique_ptr<HistoryWriter> writer_;
  std::unique_ptr<OutboxSender> sender_;
  std::atomic<OutboxSender*> wake_{nullptr};
};

// 32 random hex digits: a row id no other station of the line will draw.
std::string NewRowId();

}  // namespace history
