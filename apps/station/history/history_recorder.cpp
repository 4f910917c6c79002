#include "history_recorder.h"

#include <sys/random.h>
#include <unistd.h>

#include <chrono>
#include <random>

#include "platform/crypto.h"
#include "time_text.h"

namespace history {
namespace {

// How long Close waits for queued rows to be written before the line's last round.
constexpr std::chrono::seconds kCloseFlush(3);

}  // namespace

std::string NewRowId() {
  tr52::Md5Digest bytes{};  // 16 bytes, written as a digest is: 32 hex digits
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::getrandom(bytes.data() + got, bytes.size() - got, 0);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < bytes.size()) {
    // No kernel randomness (never on Linux 3.17+): a seeded generator still tells rows apart.
    std::random_device device;
    for (auto& b : bytes) b = static_cast<uint8_t>(device());
  }
  return tr52::Md5Hex(bytes);
}

HistoryRecorder::HistoryRecorder(RecorderSettings settings, Notice notice)
    : settings_(std::move(settings)) {
  WriterSettings writer = settings_.writer;
  // The writer's thread may commit before the sender exists.
  writer.committed = [this] {
    if (OutboxSender* sender = wake_.load()) sender->Wake();
  };
  writer_ = std::make_unique<HistoryWriter>(std::move(writer), notice);
  if (settings_.line) {
    sender_ = std::make_unique<OutboxSender>(*settings_.line, *writer_, notice);
    wake_ = sender_.get();
  }
}

HistoryRecorder::~HistoryRecorder() {
  Close();
}

std::string HistoryRecorder::Started(int com, HistoryWriter::Previous previous) {
  DownloadRow row;
  row.uid = NewRowId();
  row.station = settings_.stationId;
  row.com = com;
  row.started = UtcNow();
  row.hostPid = ::getpid();
  const std::string uid = row.uid;
  HistoryWriter::Prepare prepare;
  if (settings_.identify)
    prepare = [identify = settings_.identify](DownloadRow& r) {
      const PortIdentity identity = identify(r.com);
      r.usbPosition = identity.usbPosition;
      r.usbSerial = identity.usbSerial;
    };
  writer_->Insert(std::move(row), std::move(prepare), std::move(previous));
  return uid;
}

DownloadRow HistoryRecorder::Ended(const std::string& uid, const DownloadEnd& end) {
  DownloadRow row;
  row.uid = uid;
  CompleteRow(row, end);
  writer_->Complete(row);
  return row;
}

void HistoryRecorder::LastOnPort(int com, std::function<void(std::optional<DownloadRow>)> answer) {
  writer_->Lookup(PortKey{settings_.stationId, com, std::nullopt, std::nullopt}, std::move(answer));
}

void HistoryRecorder::Close() {
  if (!writer_) return;
  (void)writer_->Flush(kCloseFlush);
  if (sender_) sender_->Close();
  writer_->Close();
}

}  // namespace history
