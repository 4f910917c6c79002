// The thread that owns the history file. Callers queue what is to be written and go on at once;
// the thread writes it, everything queued since the last commit in one transaction. When the
// file cannot be written (locked by another program, a full disk, a folder that cannot be
// made) the rows wait in memory and are written, once, when it can be again; a damaged file is
// kept under another name and a new one started. Each of these is said once, through the
// notice given at construction, and again when writing works again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "download_row.h"
#include "history_store.h"

namespace history {

using Notice = std::function<void(const std::string&)>;

struct WriterSettings {
  std::string path;
  // How long the rows wait before the next try after a failure (a new row tries at once).
  std::chrono::milliseconds retry{2000};
  StoreOptions store;  // how the file is opened (a writer always creates it)
  // Called (on the writer's thread) after each commit that wrote rows.
  std::function<void()> committed;
};

// What the outbox holds: the oldest rows due, and how many are due in all.
struct DueRows {
  std::vector<DownloadRow> rows;
  int64_t total = 0;
};

class HistoryWriter {
 public:
  HistoryWriter(WriterSettings settings, Notice notice);
  // Close with a few seconds' bound.
  ~HistoryWriter();
  HistoryWriter(const HistoryWriter&) = delete;
  HistoryWriter& operator=(const HistoryWriter&) = delete;

  // The start of a download. `prepare` (optional) runs first on the writer's thread, outside
  // any transaction, to add what is slow to learn (the port's USB identity) to the row;
  // `previous` (optional) then gets the newest download of the same phone or port before this
  // one, nullopt when there is none or the file cannot be read.
  using Prepare = std::function<void(DownloadRow&)>;
  using Previous = std::function<void(const DownloadRow&, std::optional<DownloadRow>)>;
  void Insert(DownloadRow row, Prepare prepare = {}, Previous previous = {});
  // The end of a download whose start was inserted.
  void Complete(DownloadRow row);
  // The newest download for `key`, given to `answer` on the writer's thread.
  void Lookup(PortKey key, std::function<void(std::optional<DownloadRow>)> answer);

  // The outbox, for its sender: up to `limit` rows due, waiting at most `wait` for the answer;
  // nullopt when the file cannot be read now.
  std::optional<DueRows> Unsent(int limit, std::chrono::milliseconds wait);
  void MarkSent(std::vector<SentMark> marks);

  // Waits until everything queued before was written, at most `limit`. False when that did not
  // happen (the file cannot be written, or the time ran out).
  [[nodiscard]] bool Flush(std::chrono::milliseconds limit);
  // Stops the thread after one last try to write what waits. Returns how many writes were
  // given up (they are said as lost through the notice). Idempotent.
  size_t Close();

  const std::string& Path() const { return settings_.path; }

 private:
  struct Job {
    bool write = false;  // kept and tried again when the batch fails
    std::function<void()> prepare;
    std::function<void(HistoryStore&)> run;  // inside the batch's transaction
    std::function<void()> done;              // after the commit
    std::function<void()> failed;            // a read the file could not answer
  };

  void Submit(Job job);
  void Loop();
  bool RunBatch(std::vector<Job>& jobs);
  void OnFailure(const std::string& what);
  void MoveDamagedAside(const std::string& why);

  WriterSettings settings_;
  Notice notice_;
  std::unique_ptr<HistoryStore> store_;  // writer thread only
  bool faultSaid_ = false;               // writer thread only

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<Job> queue_;
  size_t waiting_ = 0;  // writes that failed and wait for the next try
  bool busy_ = false;   // a batch is being written
  bool stopping_ = false;
  size_t givenUp_ = 0;
  std::thread thread_;
};

}  // namespace history
