// The thread that sends the history file's outbox to the line database: rows go to the local
// file first and from there to PostgreSQL, so a line database that is down, slow or refusing
// never holds a download up, and loses nothing. A row is marked sent only after the database
// committed it; one sent twice (the mark was lost) lands once, kept by its uid. A failure is
// said once, and again when the database is reached again; meanwhile the sender tries again
// after growing pauses.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "history_writer.h"
#include "line_store.h"

namespace history {

struct SenderSettings {
  std::string url;
  LineTimeouts timeouts;
  // Bounds of the last round at Close, so a station never waits long to leave.
  LineTimeouts closeTimeouts{std::chrono::milliseconds(2000), std::chrono::milliseconds(5000)};
  std::chrono::milliseconds retryFirst{1000};  // the pause after a failure, doubled up to
  std::chrono::milliseconds retryMost{30000};
  int batch = 200;  // rows per statement
};

class OutboxSender {
 public:
  // Starts with a round: rows left over by an earlier run are sent first.
  OutboxSender(SenderSettings settings, HistoryWriter& writer, Notice notice);
  ~OutboxSender();
  OutboxSender(const OutboxSender&) = delete;
  OutboxSender& operator=(const OutboxSender&) = delete;

  // New rows are due (any thread).
  void Wake();
  // One last round (unless the database is known to be away), then the thread ends; says how
  // many rows stay due for a later run. Idempotent.
  void Close();

 private:
  void Loop();
  // Sends what is due; false when the database failed.
  bool Round(const LineTimeouts& timeouts);

  SenderSettings settings_;
  HistoryWriter& writer_;
  Notice notice_;
  std::unique_ptr<LineStore> line_;  // sender thread only
  bool faulty_ = false;              // sender thread only
  int64_t sent_ = 0;                 // rows sent since the fault was said
  int64_t due_ = -1;                 // rows due after the last round; -1 unknown

  std::mutex mutex_;
  std::condition_variable wake_;
  bool woken_ = true;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace history
