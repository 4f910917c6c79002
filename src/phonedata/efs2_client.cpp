#include "phonedata/efs2_client.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "base/printable_text.h"
#include "base/process_log.h"
#include "link/phone_link.h"

namespace tr52 {

namespace {

constexpr uint32_t kOpenWriteCreate = 0x41;
constexpr uint32_t kOpenMode = 1;
constexpr uint16_t kMkdirMode = 0x40;
// A phone that keeps answering with entries must not keep a listing going for ever.
constexpr int kMaxDirEntries = 100000;
constexpr int kMaxTreeDepth = 64;

}  // namespace

Efs2Client::Efs2Client() = default;
Efs2Client::~Efs2Client() = default;

bool Efs2Client::Ready() const {
  return Attached() && link_->IsOpen();
}

bool Efs2Client::Send(const std::vector<uint8_t>& request, int timeoutMs) {
  return Transact(request, timeoutMs) == TxRxResult::Accepted;
}

uint32_t Efs2Client::TakeError(uint32_t error, bool mayAbort) {
  lastError_ = error;
  if (mayAbort && lastError_ == kEfs2ErrorNoSpace) link_->Abort();
  return lastError_;
}

std::optional<uint32_t> Efs2Client::ErrorAnswer(const char* command) {
  const auto error = ParseEfs2Error(AnswerBytes());
  if (!error) LogShort(command, kEfs2ErrorAnswerSize);
  return error;
}

bool Efs2Client::QueryWriteChunk() {
  if (!Ready()) return false;
  const bool answered = Send(BuildEfs2Query(), kTimeoutMs);
  chunkSize_ = answered ? kQueriedChunk : kDefaultChunk;
  return answered;
}

int32_t Efs2Client::OpenFile(const std::string& path, uint32_t flags, uint32_t mode) {
  if (!Ready()) return -1;
  if (!Send(BuildEfs2Open(path, flags, mode), kTimeoutMs)) return -1;
  const auto answer = ParseEfs2HandleAnswer(AnswerBytes());
  if (!answer) {
    LogShort("OpenFile", kEfs2OpenAnswerSize);
    return -1;
  }
  const auto fd = static_cast<int32_t>(answer->handle);
  if (TakeError(answer->error) != 0) {
    Log("%sOpenFile : %s", "[ EFS2 ERROR ] ", PrintableText(path).c_str());
  } else {
    lastOpened_ = path;
  }
  return fd;
}

bool Efs2Client::CloseFile(int32_t fd) {
  if (!Ready()) return false;
  if (!Send(BuildEfs2Close(fd), kTimeoutMs)) return false;
  const auto error = ErrorAnswer("CloseFile");
  return error && TakeError(*error) == 0;
}

int Efs2Client::WriteChunk(const uint8_t* data, int length, int32_t fd, uint32_t offset) {
  if (!Ready()) return 0;
  if (length < 0 || static_cast<size_t>(length) > kEfs2WriteDataMax) return -1;
  const std::span<const uint8_t> bytes =
      length > 0 ? std::span<const uint8_t>(data, static_cast<size_t>(length))
                 : std::span<const uint8_t>();
  bool answered = Send(BuildEfs2Write(fd, offset, bytes), kTimeoutMs);
  const auto answer = ParseEfs2WriteAnswer(AnswerBytes());
  if (answered && !answer) {
    // Without its count and error number the answer tells nothing: as if none had come.
    LogShort("WriteChunk", kEfs2WriteAnswerSize);
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
  const uint32_t error = TakeError(answer->error);
  if (error != 0) {
    Log("   File Name             = %s ", PrintableText(lastOpened_).c_str());
    Log("   nResult               = %d ", 1);
    Log("   Error : Number        = %d ", static_cast<int>(error));
    Log("   Error : bytes_written = %d ", static_cast<int>(answer->written));
    return -1;
  }
  return static_cast<int>(answer->written);
}

bool Efs2Client::Stat(const std::string& path, Efs2StatInfo* info) {
  if (!Ready()) return false;
  if (!Send(BuildEfs2Stat(path), kTimeoutMs)) return false;
  const auto error = ParseEfs2Error(AnswerBytes());
  if (error && TakeError(*error, /*mayAbort=*/false) != 0) return false;
  if (!error) {
    LogShort("Stat", kEfs2ErrorAnswerSize);
    return false;
  }
  if (info) {
    const auto answer = ParseEfs2Stat(AnswerBytes());
    if (!answer) {
      LogShort("Stat", kEfs2StatAnswerSize);
      return false;
    }
    *info = *answer;
  }
  return true;
}

uint32_t Efs2Client::OpenDir(const std::string& path) {
  if (!Ready()) return 0;
  if (!Send(BuildEfs2OpenDir(path), kTimeoutMs)) return 0;
  const auto answer = ParseEfs2HandleAnswer(AnswerBytes());
  if (!answer) {
    LogShort("OpenDir", kEfs2OpenAnswerSize);
    return 0;
  }
  if (TakeError(answer->error) != 0) return 0;
  return answer->handle;
}

int Efs2Client::ReadDir(uint32_t handle, int sequence, Efs2DirEntry& entry) {
  entry = Efs2DirEntry{};
  if (!Ready()) return -1;
  if (!Send(BuildEfs2ReadDir(handle, static_cast<uint32_t>(sequence)), kTimeoutMs)) return -1;
  const std::span<const uint8_t> bytes = AnswerBytes();
  const auto head = ParseEfs2ReadDirHead(bytes);
  if (!head) {
    LogShort("ReadDir", kEfs2ReadDirHeadSize);
    return -1;
  }
  const uint32_t error = TakeError(head->error);
  if (error != 0) {
    Log("[ EFS2 ERROR ] ReadDir : handle %u, entry %d, error %u", handle, sequence, error);
    return -1;
  }
  auto parsed = ParseEfs2DirEntry(bytes);
  if (!parsed) {
    LogShort("ReadDir", kEfs2ReadDirEntrySize);
    return -1;
  }
  entry = std::move(*parsed);
  return static_cast<int>(head->next);
}

bool Efs2Client::CloseDir(uint32_t handle) {
  if (!Ready()) return false;
  if (!Send(BuildEfs2CloseDir(handle), kTimeoutMs)) return false;
  const auto error = ErrorAnswer("CloseDir");
  return error && TakeError(*error) == 0;
}

bool Efs2Client::MakeDirectory(const std::string& path) {
  if (!Ready()) return false;
  if (!Send(BuildEfs2MakeDir(path, kMkdirMode), kTimeoutMs)) return false;
  const auto error = ErrorAnswer("MakeDirectory");
  return error && TakeError(*error) == 0;
}

bool Efs2Client::RemoveDirectory(const std::string& path) {
  if (!Ready()) return false;
  if (!Send(BuildEfs2RemoveDir(path), kTimeoutMs)) return false;
  const auto error = ErrorAnswer("RemoveDirectory");
  return error && TakeError(*error) == 0;
}

bool Efs2Client::RemoveFile(const std::string& path) {
  if (!Ready()) return false;
  // Stat normalises the path itself; handing it the normalised path would add a second line
  // feed to a memory-card path and make every such file look absent.
  if (!Stat(path)) return true;
  const auto request = BuildEfs2Unlink(path);
  if (request.empty()) return false;
  const bool answered = Send(request, kTimeoutMs);
  const auto answeredError = answered ? ErrorAnswer("RemoveFile") : std::nullopt;
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
  if (!Send(BuildEfs2RemoveFiles(path), kRemoveFilesTimeoutMs)) return false;
  const auto answeredError = ErrorAnswer("RemoveFiles");
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
  // The entries are read; a handle the phone fails to close costs nothing more.
  static_cast<void>(CloseDir(handle));
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
  // On a failed upload the close only gives the handle back: the failure is reported already.
  auto fail = [&] {
    static_cast<void>(CloseFile(fd));
    return false;
  };
  size_t remaining = length;
  size_t offset = 0;
  int retries = 0;
  while (remaining > 0 && !link_->IsAborted()) {
    const size_t want = std::min(remaining, static_cast<size_t>(chunkSize_));
    const int n =
        WriteChunk(data + offset, static_cast<int>(want), fd, static_cast<uint32_t>(offset));
    if (n < 0 || (n == 0 && link_->RxStatus() == RxStatusCode::Timeout)) return fail();
    // More than was asked for is a broken answer, not progress.
    if (static_cast<size_t>(n) > want) {
      Log("   File Name             = %s ", PrintableText(path).c_str());
      Log("   Error : bytes_written = %d ", n);
      return fail();
    }
    if (static_cast<size_t>(n) == remaining) break;
    if (n == 0) {
      // No answer for another reason than the time-out: send the chunk again, a few times.
      if (++retries > kMaxChunkRetries) {
        Log("   File Name             = %s ", PrintableText(path).c_str());
        Log("   Chunk at %d not written after %d retries", static_cast<int>(offset),
            kMaxChunkRetries);
        return fail();
      }
      continue;
    }
    retries = 0;
    remaining -= static_cast<size_t>(n);
    offset += static_cast<size_t>(n);
  }
  // A file the phone did not close cleanly may not hold what was written. (After an abort every
  // transaction fails: the close tells nothing then.)
  if (!CloseFile(fd) && !link_->IsAborted()) {
    Log("[ EFS2 ERROR ] CloseFile : %s", PrintableText(path).c_str());
    return false;
  }
  Efs2StatInfo info;
  return Stat(path, &info) && info.size == length && !link_->IsAborted();
}

}  // namespace tr52
