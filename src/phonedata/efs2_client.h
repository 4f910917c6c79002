// EFS2 file operations over the DIAG subsystem dispatch (0x4B, subsystem 0x13), and the
// media / module download built on them.
//
// One client per port, bound to the session's link and reporter; used by the port's worker
// thread. Every request starts with 0x4B 0x13 and the 16-bit command; paths are normalised
// first (NormalizePath). An answer's error number 5 (no space left) aborts the link, which stops
// every long transfer of the port. An answer too short to hold the fields an operation reads
// counts as no answer, after a "short answer" log line (a missing error number is never 0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "win/window.h"

namespace tr52 {

class PhoneLink;
class ProgressReporter;

// EFS2 subsystem commands.
enum Efs2Command : uint16_t {
  EFS2_DIAG_OPEN = 2,
  EFS2_DIAG_CLOSE = 3,
  EFS2_DIAG_WRITE = 5,
  EFS2_DIAG_UNLINK = 8,
  EFS2_DIAG_MKDIR = 9,
  EFS2_DIAG_RMDIR = 10,
  EFS2_DIAG_OPENDIR = 11,
  EFS2_DIAG_READDIR = 12,
  EFS2_DIAG_CLOSEDIR = 13,
  EFS2_DIAG_STAT = 15,
  EFS2_DIAG_RMFILES = 50,
  EFS2_DIAG_QUERY = 51,
};

constexpr uint8_t kDiagSubsysCommand = 0x4B;
constexpr uint8_t kEfs2Subsystem = 0x13;
constexpr uint32_t kEfs2ErrorNoSpace = 5;    // also aborts the link
constexpr uint32_t kEfs2ErrorFileOpen = 26;  // unlink of an open file: counted as removed
constexpr uint32_t kEfs2ErrorNoEntry = 2;

struct Efs2StatInfo {
  uint32_t mode = 0;
  uint32_t size = 0;
  uint32_t atime = 0;
  uint32_t mtime = 0;
  uint32_t ctime = 0;
};

struct Efs2DirEntry {
  std::string name;
  uint32_t mode = 0;
  uint32_t size = 0;
  uint32_t atime = 0;
  uint32_t mtime = 0;
  uint32_t ctime = 0;
  uint32_t type = 0;  // 0 file, 1 directory
};

struct Efs2TreeItem {
  uint32_t type = 0;     // 0 file, 1 directory
  std::string localDir;  // local path prefix ("\"-separated)
  std::string phoneDir;  // phone directory, ending in "/"
  std::string name;
  uint32_t size = 0;
};

class Efs2Client {
 public:
  static constexpr int kTimeoutMs = 5000;
  static constexpr int kRemoveFilesTimeoutMs = 50000;
  static constexpr int kDefaultChunk = 1024;
  static constexpr int kQueriedChunk = 4096;
  // Chunks that get no answer (other than by time-out) are sent again at most this often.
  static constexpr int kMaxChunkRetries = 3;

  Efs2Client();
  ~Efs2Client();
  Efs2Client(const Efs2Client&) = delete;
  Efs2Client& operator=(const Efs2Client&) = delete;

  void Bind(PhoneLink* link, ProgressReporter* reporter, win::HWND window);

  // Leading "/" removed (unless the path is "/"); "mmc1" paths: pieces of at most 8 characters
  // lower-cased, a line feed appended.
  static std::string NormalizePath(const std::string& path);

  // Command 51: chunk size 4096 when the phone answers, else 1024. Returns whether it answered.
  bool QueryWriteChunk();
  // File descriptor from the answer (also on an error answer); -1 without answer.
  int32_t OpenFile(const std::string& path, uint32_t flags, uint32_t mode);
  bool CloseFile(int32_t fd);
  // Bytes written; 0 without answer; -1 on an error answer.
  int WriteChunk(const uint8_t* data, int length, int32_t fd, uint32_t offset);
  bool Stat(const std::string& path, Efs2StatInfo* info = nullptr);
  // Directory handle, 0 when none.
  uint32_t OpenDir(const std::string& path);
  // The answer's sequence number with `entry` filled; -1 when the read got no answer or an
  // error answer.
  int ReadDir(uint32_t handle, int sequence, Efs2DirEntry& entry);
  bool CloseDir(uint32_t handle);
  bool MakeDirectory(const std::string& path);
  bool RemoveDirectory(const std::string& path);
  // True also when the file does not exist (nothing sent) or is open (error 26).
  bool RemoveFile(const std::string& path);
  // The phone removes everything under the path (command 50, 50 s).
  bool RemoveFiles(const std::string& path);

  bool ListDirectory(const std::string& path, std::vector<Efs2DirEntry>& entries);
  // Every entry below phoneDir, sorted by name, each directory before its contents.
  bool ListTree(std::vector<Efs2TreeItem>& items, const std::string& phoneDir,
                const std::string& localDir);
  // Remove, open (0x41), chunked writes, close, stat size check.
  bool UploadFile(const std::string& path, const uint8_t* data, size_t length);

  // Replays an EFS image (merge file) onto the phone, object by object, with progress.
  bool PutMergeFile(const uint8_t* image, size_t length, bool protectMedia);
  // Removes everything below phoneDir, contents before their directory.
  bool RemoveSubDirectory(const std::string& phoneDir, bool protectMedia);

  uint32_t LastError() const { return lastError_; }
  int WriteChunkSize() const { return chunkSize_; }
  const std::string& LastOpenedFile() const { return lastOpened_; }

 private:
  bool Ready() const;
  int Port() const;
  uint8_t* BeginRequest(uint16_t command);
  // Sends `length` request bytes; true when an accepted answer is in the response buffer.
  bool Transact(int length, int timeoutMs);
  // Stores an answer's error number as the last error; error 5 aborts the link unless
  // `mayAbort` is false (stat). Returns it.
  uint32_t TakeError(uint32_t error, bool mayAbort = true);
  // The error number at `offset` of an answer whose only field it is; nothing (after the
  // short-answer log line naming `command`) when the answer ends before it. Such an answer
  // fails the command as a refused one would; the last error stays as it was.
  std::optional<uint32_t> ErrorAnswer(const char* command, size_t offset);
  int PathRequest(uint16_t command, const std::string& path, size_t pathOffset);
  bool ListTreeAt(std::vector<Efs2TreeItem>& items, const std::string& phoneDir,
                  const std::string& localDir, int depth);

  PhoneLink* link_ = nullptr;
  ProgressReporter* reporter_ = nullptr;
  win::HWND window_ = nullptr;
  uint8_t* request_ = nullptr;
  uint8_t* response_ = nullptr;
  uint32_t lastError_ = 0;
  int chunkSize_ = kDefaultChunk;
  std::string lastOpened_;
  std::recursive_mutex listLock_;
};

}  // namespace tr52
