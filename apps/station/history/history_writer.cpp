#include "history_writer.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <future>

#include "history_schema.h"
#include "platform/private_dirs.h"

namespace history {
namespace {

using Clock = std::chrono::steady_clock;

// "20250131T081502": the time a damaged file was put aside, in its new name.
std::string AsideStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  gmtime_r(&now, &t);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%S", &t);
  return buf;
}

}  // namespace

HistoryWriter::HistoryWriter(WriterSettings settings, Notice notice)
    : settings_(std::move(settings)), notice_(std::move(notice)) {
  thread_ = std::thread([this] { Loop(); });
}

HistoryWriter::~HistoryWriter() {
  Close();
}

void HistoryWriter::Submit(Job job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      if (job.failed) job.failed();
      if (job.write) ++givenUp_;
      return;
    }
    queue_.push_back(std::move(job));
  }
  wake_.notify_one();
}

void HistoryWriter::Insert(DownloadRow row, Prepare prepare, Previous previous) {
  // The lookup and the insert share the prepared row: the lookup runs first, so the download
  // never finds itself.
  auto shared = std::make_shared<DownloadRow>(std::move(row));
  auto found = std::make_shared<std::optional<DownloadRow>>();
  Job read;
  read.prepare = [shared, prepare, done = false]() mutable {
    if (prepare && !done) prepare(*shared);
    done = true;
  };
  if (previous) {
    read.run = [shared, found](HistoryStore& store) {
      *found =
          store.Last(PortKey{shared->station, shared->com, shared->usbPosition, shared->usbSerial});
    };
    read.done = [shared, found, previous] { previous(*shared, *found); };
    read.failed = [shared, previous] { previous(*shared, std::nullopt); };
  }
  Job write;
  write.write = true;
  write.run = [shared](HistoryStore& store) { store.Insert(*shared); };
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) {
    ++givenUp_;
    return;
  }
  queue_.push_back(std::move(read));
  queue_.push_back(std::move(write));
  wake_.notify_one();
}

void HistoryWriter::Complete(DownloadRow row) {
  Job job;
  job.write = true;
  job.run = [row = std::move(row)](HistoryStore& store) { store.Complete(row); };
  Submit(std::move(job));
}

void HistoryWriter::Lookup(PortKey key, std::function<void(std::optional<DownloadRow>)> answer) {
  auto found = std::make_shared<std::optional<DownloadRow>>();
  Job job;
  job.run = [key = std::move(key), found](HistoryStore& store) { *found = store.Last(key); };
  job.done = [found, answer] { answer(*found); };
  job.failed = [answer] { answer(std::nullopt); };
  Submit(std::move(job));
}

std::optional<DueRows> HistoryWriter::Unsent(int limit, std::chrono::milliseconds wait) {
  auto promise = std::make_shared<std::promise<std::optional<DueRows>>>();
  auto result = promise->get_future();
  auto due = std::make_shared<DueRows>();
  Job job;
  job.run = [limit, due](HistoryStore& store) {
    due->rows = store.Unsent(limit);
    due->total = store.UnsentCount();
  };
  job.done = [promise, due] { promise->set_value(std::move(*due)); };
  job.failed = [promise] { promise->set_value(std::nullopt); };
  Submit(std::move(job));
  if (result.wait_for(wait) != std::future_status::ready) return std::nullopt;
  return result.get();
}

void HistoryWriter::MarkSent(std::vector<SentMark> marks) {
  Job job;
  job.write = true;
  job.run = [marks = std::move(marks)](HistoryStore& store) { store.MarkSent(marks); };
  Submit(std::move(job));
}

bool HistoryWriter::Flush(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  const bool settled = idle_.wait_for(lock, limit, [this] { return queue_.empty() && !busy_; });
  return settled && waiting_ == 0;
}

size_t HistoryWriter::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ && !thread_.joinable()) return givenUp_;
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  return givenUp_;
}

void HistoryWriter::Loop() {
  std::vector<Job> waiting;  // writes of failed batches, oldest first
  auto retryAt = Clock::now();
  for (;;) {
    std::vector<Job> jobs;
    bool last = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      for (;;) {
        if (stopping_ || !queue_.empty()) break;
        if (!waiting.empty() && Clock::now() >= retryAt) break;
        if (waiting.empty())
          wake_.wait(lock);
        else
          wake_.wait_until(lock, retryAt);
      }
      last = stopping_;
      jobs = std::move(waiting);
      waiting.clear();
      for (auto& job : queue_) jobs.push_back(std::move(job));
      queue_.clear();
      busy_ = true;
    }
    const bool written = jobs.empty() || RunBatch(jobs);
    bool wrote = false;
    for (auto& job : jobs) {
      if (written) {
        wrote = wrote || job.write;
        if (job.done) job.done();
      } else if (job.write) {
        waiting.push_back(std::move(job));
      } else if (job.failed) {
        job.failed();
      }
    }
    if (wrote && settings_.committed) settings_.committed();
    if (!written) retryAt = Clock::now() + settings_.retry;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      busy_ = false;
      waiting_ = waiting.size();
      if (last) givenUp_ += waiting.size();
    }
    idle_.notify_all();
    if (last) break;
  }
  store_.reset();
  if (givenUp_ > 0)
    notice_("history: " + std::to_string(givenUp_) + " row(s) could not be written to " +
            settings_.path + " and are lost");
}

bool HistoryWriter::RunBatch(std::vector<Job>& jobs) {
  for (auto& job : jobs)
    if (job.prepare) job.prepare();
  // A damaged file is put aside and the batch goes into a new one at once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      if (!store_) {
        // The user's own state: a folder made for it is private to the user.
        const auto folder = std::filesystem::path(settings_.path).parent_path();
        if (!folder.empty()) (void)tr52::MakePrivateDirs(folder.string());
        StoreOptions options = settings_.store;
        options.mustExist = false;
        store_ = std::make_unique<HistoryStore>(settings_.path, options);
      }
      SqliteTransaction transaction(store_->Db());
      for (auto& job : jobs)
        if (job.run) job.run(*store_);
      transaction.Commit();
      if (faultSaid_) notice_("history: " + settings_.path + " is written again");
      faultSaid_ = false;
      return true;
    } catch (const SqliteError& e) {
      store_.reset();
      if (e.Damaged() && attempt == 0) {
        MoveDamagedAside(e.what());
        continue;
      }
      OnFailure(e.what());
    } catch (const SchemaTooNew& e) {
      store_.reset();
      OnFailure(e.what());
    }
    return false;
  }
  return false;
}

void HistoryWriter::OnFailure(const std::string& what) {
  if (faultSaid_) return;
  faultSaid_ = true;
  notice_("history: cannot write " + settings_.path + " (" + what +
          "); downloads go on, their rows wait and are written when it can be written again");
}

void HistoryWriter::MoveDamagedAside(const std::string& why) {
  const std::string aside = settings_.path + ".damaged-" + AsideStamp();
  std::error_code ec;
  std::filesystem::rename(settings_.path, aside, ec);
  if (ec) {
    OnFailure(why + "; it could not be put aside: " + ec.message());
    return;
  }
  std::error_code ignored;
  std::filesystem::rename(settings_.path + "-wal", aside + "-wal", ignored);
  std::filesystem::remove(settings_.path + "-shm", ignored);
  notice_("history: " + settings_.path + " is damaged (" + why + "); it is kept as " + aside +
          " and a new history file is started");
}

}  // namespace history
