#include "phonedata/efs2_client.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "base/byte_reader.h"
#include "base/printable_text.h"
#include "base/process_log.h"
#include "base/progress_reporter.h"
#include "link/last_answer.h"
#include "link/phone_link.h"

namespace tr52 {

namespace {

constexpr size_t kHeader = 4;
constexpr uint32_t kOpenWriteCreate = 0x41;
constexpr uint32_t kOpenMode = 1;
constexpr uint16_t kMkdirMode = 0x40;
// A phone that keeps answering with entries must not keep a listing going for ever.
constexpr int kMaxDirEntries = 100000;
constexpr int kMaxTreeDepth = 64;

}  // namespace

Efs2Client::Efs2Client() = default;
Efs2Client::~Efs2Client() = default;

void Efs2Client::Bind(PhoneLink* link, ProgressReporter* reporter, win::HWND window) {
  link_ = link;
  reporter_ = reporter;
  window_ = window;
  if (link_) {
    auto buffers = link_->PacketBuffers();
    request_ = buffers.request;
    response_ = buffers.response;
  } else {
    request_ = response_ = nullptr;
  }
}

std::string Efs2Client::NormalizePath(const std::string& path) {
  std::string p = path;
  if (p != "/" && !p.empty() && p[0] == '/') p.erase(0, 1);
  if (p.rfind("mmc1", 0) != 0) return p;
  std::string out;
  size_t start = 0;
  while (true) {
    const size_t slash = p.find('/', start);
    std::string piece =
        p.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (piece.size() <= 8) {
      for (char& c : piece) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    out += piece;
    if (slash == std::string::npos) break;
    out += '/';
    start = slash + 1;
  }
  return out + "\n";
}

bool Efs2Client::Ready() const {
  return link_ && request_ && response_ && link_->IsOpen();
}

int Efs2Client::Port() const {
  return link_ ? link_->PortNumber() : 0;
}

uint8_t* Efs2Client::BeginRequest(uint16_t command) {
  request_[0] = kDiagSubsysCommand;
  request_[1] = kEfs2Subsystem;
  StoreU16le(request_ + 2, command);
  return request_;
}

bool Efs2Client::Transact(int length, int timeoutMs) {
  return link_->AsyncTxRx(request_, response_, length, timeoutMs) == TXRX_ACCEPTED;
}

uint32_t Efs2Client::TakeError(uint32_t error, bool mayAbort) {
  lastError_ = error;
  if (mayAbort && lastError_ == kEfs2ErrorNoSpace) link_->Abort();
  return lastError_;
}

std::optional<uint32_t> Efs2Client::ErrorAnswer(const char* command, size_t offset) {
  AnswerReader answer = LastAnswer(*link_);
  const auto error = answer.U32(offset);
  if (!error) LogShortAnswer(Port(), command, answer);
  return error;
}

// Builds a request of `command` with the normalised path at `pathOffset` (NUL-terminated) and
// returns its length, or 0 when the path does not fit the request buffer.
int Efs2Client::PathRequest(uint16_t command, const std::string& path, size_t pathOffset) {
  const std::string p = NormalizePath(path);
  if (pathOffset + p.size() + 1 > PhoneLink::kBufferSize) return 0;
  std::memset(request_, 0, pathOffset);
  BeginRequest(command);
  std::memcpy(request_ + pathOffset, p.c_str(), p.size() + 1);
  return static_cast<int>(pathOffset + p.size() + 1);
}

bool Efs2Client::QueryWriteChunk() {
  if (!Ready()) return false;
  BeginRequest(EFS2_DIAG_QUERY);
  const bool answered = Transact(kHeader, kTimeoutMs);
  chunkSize_ = answered ? kQueriedChunk : kDefaultChunk;
  return answered;
}

int32_t Efs2Client::OpenFile(const std::string& path, uint32_t flags, uint32_t mode) {
  if (!Ready()) return -1;
  const int length = PathRequest(EFS2_DIAG_OPEN, path, 12);
  if (!length) return -1;
  StoreU32le(request_ + 4, flags);
  StoreU32le(request_ + 8, mode);
  if (!Transact(length, kTimeoutMs)) return -1;
  AnswerReader answer = LastAnswer(*link_);
  const auto answeredFd = answer.U32(4);
  const auto error = answer.U32(8);
  if (!answeredFd || !error) {
    LogShortAnswer(Port(), "OpenFile", answer);
    return -1;
  }
  const auto fd = static_cast<int32_t>(*answeredFd);
  if (TakeError(*error) != 0) {
    Log("%sOpenFile : %s", "[ EFS2 ERROR ] ", PrintableText(path).c_str());
  } else {
    lastOpened_ = path;
  }
  return fd;
}

bool Efs2Client::CloseFile(int32_t fd) {
  if (!Ready()) return false;
  std::memset(request_, 0, 8);
  BeginRequest(EFS2_DIAG_CLOSE);
  StoreU32le(request_ + 4, static_cast<uint32_t>(fd));
  if (!Transact(8, kTimeoutMs)) return false;
  const auto error = ErrorAnswer("CloseFile", 4);
  return error && TakeError(*error) == 0;
}

int Efs2Client::WriteChunk(const uint8_t* data, int length, int32_t fd, uint32_t offset) {
  if (!Ready()) return 0;
  if (length < 0 || static_cast<size_t>(length) > PhoneLink::kBufferSize - 12) return -1;
  std::memset(request_, 0, PhoneLink::kBufferSize);
  BeginRequest(EFS2_DIAG_WRITE);
  StoreU32le(request_ + 4, static_cast<uint32_t>(fd));
  StoreU32le(request_ + 8, offset);
  if (length) std::memcpy(request_ + 12, data, static_cast<size_t>(length));
  bool answered = Transact(length + 12, kTimeoutMs);
  AnswerReader answer = LastAnswer(*link_);
  const auto written = answer.U32(12);
  const auto answeredError = answer.U32(16);
  if (answered && !(written && answeredError)) {
    // Without its count and error number the answer tells nothing: as if none had come.
    LogShortAnswer(Port(), "WriteChunk", answer);
    answered = false;
  }
  if (!answered) {
    Log("= Debug Log Start ======================================");
    Log("= EFS2 WriteFile");
    Log("= FileName : %s, Fd : 0x%08X, OffSet : %d", PrintableText(lastOpened_).c_str(),
        static_cast<unsigned>(fd), static_cast<int>(offset));
    Log("= Debug Log End ========================================");
    return 0;
  }
  const uint32_t error = TakeError(*answeredError);
  if (error != 0) {
    Log("   File Name             = %s ", PrintableText(lastOpened_).c_str());
    Log("   nResult               = %d ", 1);
    Log("   Error : Number        = %d ", static_cast<int>(error));
    Log("   Error : bytes_written = %d ", static_cast<int>(*written));
    return -1;
  }
  return static_cast<int>(*written);
}

bool Efs2Client::Stat(const std::string& path, Efs2StatInfo* info) {
  if (!Ready()) return false;
  const int length = PathRequest(EFS2_DIAG_STAT, path, 4);
  if (!length || !Transact(length, kTimeoutMs)) return false;
  AnswerReader answer = LastAnswer(*link_);
  const auto error = answer.U32(4);
  if (error && TakeError(*error, /*mayAbort=*/false) != 0) return false;
  if (!error) {
    LogShortAnswer(Port(), "Stat", answer);
    return false;
  }
  if (info) {
    const auto mode = answer.U32(8);
    const auto size = answer.U32(12);
    const auto atime = answer.U32(20);
    const auto mtime = answer.U32(24);
    const auto ctime = answer.U32(28);
    if (!mode || !size || !atime || !mtime || !ctime) {
      LogShortAnswer(Port(), "Stat", answer);
      return false;
    }
    info->mode = *mode;
    info->size = *size;
    info->atime = *atime;
    info->mtime = *mtime;
    info->ctime = *ctime;
  }
  return true;
}

uint32_t Efs2Client::OpenDir(const std::string& path) {
  if (!Ready()) return 0;
  const int length = PathRequest(EFS2_DIAG_OPENDIR, path, 4);
  if (!length || !Transact(length, kTimeoutMs)) return 0;
  AnswerReader answer = LastAnswer(*link_);
  const auto handle = answer.U32(4);
  const auto error = answer.U32(8);
  if (!handle || !error) {
    LogShortAnswer(Port(), "OpenDir", answer);
    return 0;
  }
  if (TakeError(*error) != 0) return 0;
  return *handle;
}

int Efs2Client::ReadDir(uint32_t handle, int sequence, Efs2DirEntry& entry) {
  entry = Efs2DirEntry{};
  if (!Ready()) return -1;
  std::memset(request_, 0, 12);
  BeginRequest(EFS2_DIAG_READDIR);
  StoreU32le(request_ + 4, handle);
  StoreU32le(request_ + 8, static_cast<uint32_t>(sequence));
  if (!Transact(12, kTimeoutMs)) return -1;
  AnswerReader answer = LastAnswer(*link_);
  const auto next = answer.U32(8);
  const auto answeredError = answer.U32(12);
  if (!next || !answeredError) {
    LogShortAnswer(Port(), "ReadDir", answer);
    return -1;
  }
  const uint32_t error = TakeError(*answeredError);
  if (error != 0) {
    Log("[ EFS2 ERROR ] ReadDir : handle %u, entry %d, error %u", handle, sequence, error);
    return -1;
  }
  const auto type = answer.U32(16);
  const auto mode = answer.U32(20);
  const auto size = answer.U32(24);
  const auto atime = answer.U32(28);
  const auto mtime = answer.U32(32);
  const auto ctime = answer.U32(36);
  // The name runs to its NUL or to the end of the answer.
  auto name = answer.Text(40);
  if (!type || !mode || !size || !atime || !mtime || !ctime || !name) {
    LogShortAnswer(Port(), "ReadDir", answer);
    return -1;
  }
  entry.type = *type;
  entry.mode = *mode;
  entry.size = *size;
  entry.atime = *atime;
  entry.mtime = *mtime;
  entry.ctime = *ctime;
  entry.name = std::move(*name);
  return static_cast<int>(*next);
}

bool Efs2Client::CloseDir(uint32_t handle) {
  if (!Ready()) return false;
  std::memset(request_, 0, 8);
  BeginRequest(EFS2_DIAG_CLOSEDIR);
  StoreU32le(request_ + 4, handle);
  if (!Transact(8, kTimeoutMs)) return false;
  const auto error = ErrorAnswer("CloseDir", 4);
  return error && TakeError(*error) == 0;
}

bool Efs2Client::MakeDirectory(const std::string& path) {
  if (!Ready()) return false;
  const int length = PathRequest(EFS2_DIAG_MKDIR, path, 6);
  if (!length) return false;
  StoreU16le(request_ + 4, kMkdirMode);
  if (!Transact(length, kTimeoutMs)) return false;
  const auto error = ErrorAnswer("MakeDirectory", 4);
  return error && TakeError(*error) == 0;
}

bool Efs2Client::RemoveDirectory(const std::string& path) {
  if (!Ready()) return false;
  const int length = PathRequest(EFS2_DIAG_RMDIR, path, 4);
  if (!length || !Transact(length, kTimeoutMs)) return false;
  const auto error = ErrorAnswer("RemoveDirectory", 4);
  return error && TakeError(*error) == 0;
}

bool Efs2Client::RemoveFile(const std::string& path) {
  if (!Ready()) return false;
  // Stat normalises the path itself; handing it the normalised path would add a second line
  // feed to a memory-card path and make every such file look absent.
  if (!Stat(path)) return true;
  const int length = PathRequest(EFS2_DIAG_UNLINK, path, 4);
  if (!length) return false;
  const bool answered = Transact(length, kTimeoutMs);
  const auto answeredError = answered ? ErrorAnswer("RemoveFile", 4) : std::nullopt;
  if (!answeredError) {
    Log("nResult = %s", "");
    return false;
  }
  const uint32_t error = TakeError(*answeredError);
  if (error == kEfs2ErrorFileOpen) {
    Log("[ File Removed %s] File already open \n", PrintableText(path).c_str());
    return true;
  }
  if (error != 0) {
    Log("[ Files Remove %s] %d", PrintableText(path).c_str(), static_cast<int>(error));
    return false;
  }
  return true;
}

bool Efs2Client::RemoveFiles(const std::string& path) {
  if (!Ready()) return false;
  Log("[ EFS2_DIAG_RMFILES : %s]", PrintableText(path).c_str());
  const int length = PathRequest(EFS2_DIAG_RMFILES, path, 4);
  if (!length || !Transact(length, kRemoveFilesTimeoutMs)) return false;
  const auto answeredError = ErrorAnswer("RemoveFiles", 4);
  if (!answeredError) return false;
  const uint32_t error = TakeError(*answeredError);
  if (error != 0) {
    Log("[ Files Remove Error ] %s", PrintableText(path).c_str());
    Log("[ Files Remove Error ] %d", static_cast<int>(error));
    return false;
  }
  Log("[ Files Removed ] %s", PrintableText(path).c_str());
  return true;
}

bool Efs2Client::ListDirectory(const std::string& path, std::vector<Efs2DirEntry>& entries) {
  std::lock_guard<std::recursive_mutex> lock(listLock_);
  const uint32_t handle = OpenDir(path);
  if (handle == 0) return false;
  entries.clear();
  Efs2DirEntry entry;
  for (int sequence = 1; sequence <= kMaxDirEntries; ++sequence) {
    if (ReadDir(handle, sequence, entry) < 0 || entry.name.empty()) break;
    entries.push_back(entry);
  }
  CloseDir(handle);
  return true;
}

bool Efs2Client::ListTree(std::vector<Efs2TreeItem>& items, const std::string& phoneDir,
                          const std::string& localDir) {
  std::lock_guard<std::recursive_mutex> lock(listLock_);
  return ListTreeAt(items, phoneDir, localDir, 0);
}

bool Efs2Client::ListTreeAt(std::vector<Efs2TreeItem>& items, const std::string& phoneDir,
                            const std::string& localDir, int depth) {
  if (depth > kMaxTreeDepth) return false;
  std::vector<Efs2DirEntry> entries;
  if (!ListDirectory(phoneDir, entries)) return false;
  // Byte-wise, as unsigned bytes, so multi-byte names keep their order.
  std::sort(entries.begin(), entries.end(),
            [](const Efs2DirEntry& a, const Efs2DirEntry& b) { return a.name < b.name; });
  for (const auto& e : entries) {
    // The folder itself and its parent would make the walk go round in circles.
    if (e.name == "." || e.name == "..") continue;
    items.push_back({e.type, localDir, phoneDir, e.name, e.size});
    if (e.type == 1 &&
        !ListTreeAt(items, phoneDir + e.name + "/", localDir + e.name + "\\", depth + 1))
      return false;
  }
  return true;
}

bool Efs2Client::UploadFile(const std::string& path, const uint8_t* data, size_t length) {
  // After an abort every answer is refused, but requests would still reach the phone: an open
  // would leave an empty file behind there. Send nothing.
  if (!Ready() || link_->IsAborted()) return false;
  if (!RemoveFile(path)) return false;
  const int32_t fd = OpenFile(path, kOpenWriteCreate, kOpenMode);
  if (fd == -1) return false;
  size_t remaining = length;
  size_t offset = 0;
  int retries = 0;
  while (remaining > 0 && !link_->IsAborted()) {
    const size_t want = std::min(remaining, static_cast<size_t>(chunkSize_));
    const int n =
        WriteChunk(data + offset, static_cast<int>(want), fd, static_cast<uint32_t>(offset));
    if (n < 0 || (n == 0 && link_->RxStatus() == RX_TIMEOUT)) {
      CloseFile(fd);
      return false;
    }
    // More than was asked for is a broken answer, not progress.
    if (static_cast<size_t>(n) > want) {
      Log("   File Name             = %s ", PrintableText(path).c_str());
      Log("   Error : bytes_written = %d ", n);
      CloseFile(fd);
      return false;
    }
    if (static_cast<size_t>(n) == remaining) break;
    if (n == 0) {
      // No answer for another reason than the time-out: send the chunk again, a few times.
      if (++retries > kMaxChunkRetries) {
        Log("   File Name             = %s ", PrintableText(path).c_str());
        Log("   Chunk at %d not written after %d retries", static_cast<int>(offset),
            kMaxChunkRetries);
        CloseFile(fd);
        return false;
      }
      continue;
    }
    retries = 0;
    remaining -= static_cast<size_t>(n);
    offset += static_cast<size_t>(n);
  }
  CloseFile(fd);
  Efs2StatInfo info;
  return Stat(path, &info) && info.size == length && !link_->IsAborted();
}

}  // namespace tr52
