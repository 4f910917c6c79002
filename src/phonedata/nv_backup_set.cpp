#include "phonedata/nv_backup_set.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "base/byte_reader.h"
#include "platform/atomic_file.h"

namespace tr52 {

namespace {

// Reads up to n bytes, retrying short reads; returns the bytes read.
size_t ReadFully(int fd, uint8_t* out, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::read(fd, out + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<size_t>(r);
  }
  return done;
}

void StoreUtcTime(uint8_t* out) {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  std::tm tm{};
  gmtime_r(&t, &tm);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  const uint16_t fields[8] = {
      static_cast<uint16_t>(tm.tm_year + 1900), static_cast<uint16_t>(tm.tm_mon + 1),
      static_cast<uint16_t>(tm.tm_wday),        static_cast<uint16_t>(tm.tm_mday),
      static_cast<uint16_t>(tm.tm_hour),        static_cast<uint16_t>(tm.tm_min),
      static_cast<uint16_t>(tm.tm_sec),         static_cast<uint16_t>(ms)};
  for (int i = 0; i < 8; ++i) StoreU16le(out + 2 * i, fields[i]);
}

}  // namespace

NvBackupSet::NvBackupSet() {
  ResetHeader();
}

NvBackupSet::~NvBackupSet() {
  Close();
}

void NvBackupSet::ResetHeader() {
  header_.fill(0);
  std::memcpy(header_.data(), "ZUNV", 4);
  StoreU32le(header_.data() + 4, kVersion);
  std::memcpy(header_.data() + 8, "TR52", 4);
}

bool NvBackupSet::Open(const std::string& path, int mode) {
  if (mode_ != kClosed || fd_ >= 0) Close();
  error_.clear();
  if (mode == kRead) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    // Others may read the file while it is open here, not write it.
    ::flock(fd_, LOCK_SH | LOCK_NB);
    mode_ = kRead;
    path_ = path;
    // A file that cannot be read whole leaves the set closed, never half loaded.
    if (!ReadHeader()) {
      Close();
      return false;
    }
    const uint32_t count = HeaderCount();
    uint8_t buf[NvRecord::kSize];
    for (uint32_t i = 0; i < count; ++i) {
      if (ReadFully(fd_, buf, sizeof buf) < sizeof buf) {
        Close();
        return false;
      }
      records_.push_back(NvRecord::DecodeFrom(buf));
    }
    return true;
  }
  if (mode == kWrite) {
    // Nothing is written before Flush, which replaces the file whole; the old file stays as it
    // is until then. A folder that cannot take the new file is said now, before the records
    // are read from the phone.
    const size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
      error_ = "cannot write into " + folder + ": " + std::strerror(errno);
      return false;
    }
    ResetHeader();
    StoreU32le(header_.data() + 16, 0);
    StoreUtcTime(header_.data() + 20);
    mode_ = kWrite;
    path_ = path;
    return true;
  }
  return false;
}

void NvBackupSet::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  mode_ = kClosed;
  path_.clear();
  records_.clear();
  records_.shrink_to_fit();
  ResetHeader();
}

bool NvBackupSet::Append(const NvRecord& record) {
  records_.push_back(record);
  return true;
}

bool NvBackupSet::Get(size_t index, NvRecord& record) const {
  if (mode_ == kClosed || index >= records_.size()) return false;
  record = records_[index];
  return true;
}

size_t NvBackupSet::Count() const {
  return mode_ == kClosed ? 0 : records_.size();
}

uint32_t NvBackupSet::HeaderCount() const {
  return LoadU32le(header_.data() + 16);
}

bool NvBackupSet::Flush() {
  if (mode_ == kWrite) return WriteAll();
  if (mode_ == kRead && fd_ >= 0) return ReadHeader();
  return false;
}

bool NvBackupSet::WriteAll() {
  StoreU32le(header_.data() + 16, static_cast<uint32_t>(records_.size()));
  StoreUtcTime(header_.data() + 20);
  std::vector<uint8_t> out(kHeaderSize + records_.size() * NvRecord::kSize);
  std::memcpy(out.data(), header_.data(), kHeaderSize);
  for (size_t i = 0; i < records_.size(); ++i)
    records_[i].EncodeTo(out.data() + kHeaderSize + i * NvRecord::kSize);
  return ReplaceFileAtomically(
      path_, std::string_view(reinterpret_cast<const char*>(out.data()), out.size()), error_);
}

bool NvBackupSet::ReadHeader() {
  if (::lseek(fd_, 0, SEEK_SET) != 0) return false;
  std::array<uint8_t, kHeaderSize> h{};
  if (ReadFully(fd_, h.data(), h.size()) < h.size()) return false;
  header_ = h;
  return true;
}

bool NvBackupSet::ParseImage(const uint8_t* bytes, size_t size, std::vector<NvRecord>& records,
                             uint32_t* headerCount) {
  records.clear();
  ByteReader in(bytes, size);
  if (!in.Skip(16)) return false;
  auto count = in.U32le();
  if (!count || !in.Skip(16)) return false;
  if (headerCount) *headerCount = *count;
  // The count comes from outside: never reserve or loop more than the bytes can hold.
  if (*count > in.Remaining() / NvRecord::kSize) return false;
  records.reserve(*count);
  for (uint32_t i = 0; i < *count; ++i) {
    auto v = in.View(NvRecord::kSize);
    if (!v) return false;
    records.push_back(NvRecord::DecodeFrom(v->data()));
  }
  return true;
}

}  // namespace tr52
