#include "download_records.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

namespace station {

namespace {

// A file descriptor closed when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

DownloadRecordFeed::DownloadRecordFeed(std::string path, unsigned pid)
    : path_(std::move(path)), pid_(pid) {
  struct stat st {};
  if (::stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    offset_ = static_cast<uint64_t>(st.st_size);
    dev_ = st.st_dev;
    ino_ = st.st_ino;
  }
}

void DownloadRecordFeed::ReadAppended() {
  const Fd fd(::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  // A file made anew (or cut short) since the last look holds only newer lines.
  if (st.st_dev != dev_ || st.st_ino != ino_ || static_cast<uint64_t>(st.st_size) < offset_) {
    offset_ = 0;
    dev_ = st.st_dev;
    ino_ = st.st_ino;
  }
  std::string pending;  // bytes after the last complete line
  std::vector<char> buffer(64 * 1024);
  uint64_t at = offset_;
  for (;;) {
    const ssize_t n = ::pread(fd.get(), buffer.data(), buffer.size(), static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    at += static_cast<uint64_t>(n);
    pending.append(buffer.data(), static_cast<size_t>(n));
    size_t start = 0;
    for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
      const auto record =
          tr52::ParseDownloadRecord(std::string_view(pending).substr(start, end - start));
      if (record && record->hostPid == pid_) pending_[record->com] = *record;
    }
    offset_ += start;
    pending.erase(0, start);
  }
}

std::optional<tr52::DownloadRecord> DownloadRecordFeed::Take(int com) {
  ReadAppended();
  const auto it = pending_.find(com);
  if (it == pending_.end()) return std::nullopt;
  std::optional<tr52::DownloadRecord> record = std::move(it->second);
  pending_.erase(it);
  return record;
}

}  // namespace station
