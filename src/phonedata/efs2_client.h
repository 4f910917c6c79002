// EFS2 file operations over the DIAG subsystem dispatch (0x4B, subsystem 0x13), and the
// media / module download built on them.
//
// One client per port, bound to the session's link and progress sink; used by the port's worker
// thread. Requests come from the EFS2 builders (efs2_requests.h). An answer's error number 5 (no
// space left) aborts the link, which stops every long transfer of the port. An answer too short to
// hold the fields an operation reads counts as no answer, after a "short answer" log line (a
// missing error number is never 0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/link_client.h"
#include "phonedata/efs2_requests.h"

namespace tr52 {

constexpr uint32_t kEfs2ErrorNoSpace = 5;    // also aborts the link
constexpr uint32_t kEfs2ErrorFileOpen = 26;  // unlink of an open file: counted as removed
constexpr uint32_t kEfs2ErrorNoEntry = 2;

struct Efs2TreeItem {
  uint32_t type = 0;     // 0 file, 1 directory
  std::string localDir;  // local path prefix ("\"-separated)
  std::string phoneDir;  // phone directory, ending in "/"
  std::string name;
  uint32_t size = 0;
};

class Efs2Client : public LinkClient {
 public:
  static constexpr int kTimeoutMs = 5000;
  static constexpr int kRemoveFilesTimeoutMs = 50000;
  static constexpr int kDefaultChunk = 1024;
  static constexpr int kQueriedChunk = 4096;
  // Chunks that get no answer (other than by time-out) are sent again at most this often.
  static constexpr int kMaxChunkRetries = 3;

  Efs2Client();
  ~Efs2Client() override;

  // See NormalizeEfs2Path.
  static std::string NormalizePath(const std::string& path) { return NormalizeEfs2Path(path); }

  // Command 51: chunk size 4096 when the phone answers, else 1024. Returns whether it answered.
  [[nodiscard]] bool QueryWriteChunk();
  // File descriptor from the answer (also on an error answer); -1 without answer.
  [[nodiscard]] int32_t OpenFile(const std::string& path, uint32_t flags, uint32_t mode);
  [[nodiscard]] bool CloseFile(int32_t fd);
  // Bytes written; 0 without answer; -1 on an error answer.
  [[nodiscard]] int WriteChunk(const uint8_t* data, int length, int32_t fd, uint32_t offset);
  [[nodiscard]] bool Stat(const std::string& path, Efs2StatInfo* info = nullptr);
  // Directory handle, 0 when none.
  [[nodiscard]] uint32_t OpenDir(const std::string& path);
  // The answer's sequence number with `entry` filled; -1 when the read got no answer or an
  // error answer.
  [[nodiscard]] int ReadDir(uint32_t handle, int sequence, Efs2DirEntry& entry);
  [[nodiscard]] bool CloseDir(uint32_t handle);
  [[nodiscard]] bool MakeDirectory(const std::string& path);
  [[nodiscard]] bool RemoveDirectory(const std::string& path);
  // True also when the file does not exist (nothing sent) or is open (error 26).
  [[nodiscard]] bool RemoveFile(const std::string& path);
  // The phone removes everything under the path (command 50, 50 s).
  [[nodiscard]] bool RemoveFiles(const std::string& path);

  [[nodiscard]] bool ListDirectory(const std::string& path, std::vector<Efs2DirEntry>& entries);
  // Every entry below phoneDir, sorted by name, each directory before its contents.
  [[nodiscard]] bool ListTree(std::vector<Efs2TreeItem>& items, const std::string& phoneDir,
                              const std::string& localDir);
  // Remove, open (0x41), chunked writes, close, stat size check.
  [[nodiscard]] bool UploadFile(const std::string& path, const uint8_t* data, size_t length);

  // Replays an EFS image (merge file) onto the phone, object by object, with progress.
  [[nodiscard]] bool PutMergeFile(const uint8_t* image, size_t length, bool protectMedia);
  // Removes everything below phoneDir, contents before their directory.
  [[nodiscard]] bool RemoveSubDirectory(const std::string& phoneDir, bool protectMedia);

  uint32_t LastError() const { return lastError_; }
  int WriteChunkSize() const { return chunkSize_; }
  const std::string& LastOpenedFile() const { return lastOpened_; }

 private:
  bool Ready() const;
  // Sends the request; true when an accepted answer is in the response buffer.
  [[nodiscard]] bool Send(const std::vector<uint8_t>& request, int timeoutMs);
  // Stores an answer's error number as the last error; error 5 aborts the link unless
  // `mayAbort` is false (stat). Returns it.
  uint32_t TakeError(uint32_t error, bool mayAbort = true);
  // The error number of an answer whose only field it is; nothing (after the short-answer log
  // line naming `command`) when the answer ends before it. Such an answer fails the command as
  // a refused one would; the last error stays as it was.
  std::optional<uint32_t> ErrorAnswer(const char* command);
  bool ListTreeAt(std::vector<Efs2TreeItem>& items, const std::string& phoneDir,
                  const std::string& localDir, int depth);

  uint32_t lastError_ = 0;
  int chunkSize_ = kDefaultChunk;
  std::string lastOpened_;
  std::recursive_mutex listLock_;
};

}  // namespace tr52
