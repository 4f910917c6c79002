#include "outbox_sender.h"

#include <algorithm>

#include "history_schema.h"

namespace history {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

OutboxSender::OutboxSender(SenderSettings settings, HistoryWriter& writer, Notice notice)
    : settings_(std::move(settings)), writer_(writer), notice_(std::move(notice)) {
  thread_ = std::thread([this] { Loop(); });
}

OutboxSender::~OutboxSender() {
  Close();
}

void OutboxSender::Wake() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
  }
  wake_.notify_one();
}

void OutboxSender::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

bool OutboxSender::Round(const LineTimeouts& timeouts) {
  try {
    if (!line_) line_ = std::make_unique<LineStore>(settings_.url, true, timeouts);
    for (;;) {
      const auto due = writer_.Unsent(settings_.batch, timeouts.statement);
      if (!due) break;  // the file cannot be read now: the writer says why
      due_ = due->total;
      if (due->rows.empty()) break;
      line_->Upsert(due->rows);
      std::vector<SentMark> marks;
      for (const auto& row : due->rows) marks.emplace_back(row.uid, row.version);
      writer_.MarkSent(std::move(marks));
      sent_ += static_cast<int64_t>(due->rows.size());
      due_ -= static_cast<int64_t>(due->rows.size());
      if (static_cast<int>(due->rows.size()) < settings_.batch) break;
    }
    if (faulty_)
      notice_("history: the line database " + RedactedUrl(settings_.url) + " is reached again; " +
              std::to_string(sent_) + " row(s) sent");
    faulty_ = false;
    sent_ = 0;
    return true;
  } catch (const std::exception& e) {  // PgError, SchemaTooNew
    line_.reset();
    if (!faulty_)
      notice_("history: cannot send rows to the line database " + RedactedUrl(settings_.url) +
              " (" + e.what() + "); downloads go on, and the rows wait in " + writer_.Path() +
              " and go out when it answers again");
    faulty_ = true;
    sent_ = 0;
    return false;
  }
}

void OutboxSender::Loop() {
  auto pause = settings_.retryFirst;
  auto retryAt = Clock::now();
  for (;;) {
    bool last = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      for (;;) {
        if (stopping_) break;
        // While the database is away, new rows wait for the next try.
        if (faulty_ ? Clock::now() >= retryAt : woken_) break;
        if (faulty_)
          wake_.wait_until(lock, retryAt);
        else
          wake_.wait(lock);
      }
      last = stopping_;
      woken_ = false;
    }
    if (last) {
      if (!faulty_) Round(settings_.closeTimeouts);
      break;
    }
    if (Round(settings_.timeouts)) {
      pause = settings_.retryFirst;
    } else {
      retryAt = Clock::now() + pause;
      pause = std::min(pause * 2, settings_.retryMost);
    }
  }
  line_.reset();
  if (due_ < 0 || faulty_) {
    const auto due = writer_.Unsent(0, settings_.closeTimeouts.statement);
    if (due) due_ = due->total;
  }
  if (due_ > 0)
    notice_("history: " + std::to_string(due_) + " row(s) are not in the line database yet; " +
            "they wait in " + writer_.Path() + " and the next run with --history-url sends them");
}

}  // namespace history
