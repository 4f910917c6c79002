// Requests and answers of the EFS2 file commands (DIAG subsystem dispatch 0x4B, subsystem
// 0x13), as bytes. Every request starts with 0x4B 0x13 and the 16-bit command; paths are
// normalised (NormalizeEfs2Path) and NUL-terminated. A builder whose inputs do not fit the
// link's 32768-byte request gives an empty request. Parsers read an answer payload with bounds
// checks and give nothing when it is too short to hold what they read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tr52 {

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
constexpr size_t kEfs2RequestMax = 32768;
// Data bytes one write request can carry.
constexpr size_t kEfs2WriteDataMax = kEfs2RequestMax - 12;

// Answer bytes each parser needs (the figure of a "short answer" log line).
constexpr size_t kEfs2ErrorAnswerSize = 8;
constexpr size_t kEfs2OpenAnswerSize = 12;
constexpr size_t kEfs2WriteAnswerSize = 20;
constexpr size_t kEfs2StatAnswerSize = 32;
constexpr size_t kEfs2ReadDirHeadSize = 16;
constexpr size_t kEfs2ReadDirEntrySize = 41;

// Leading "/" removed (unless the path is "/"); "mmc1" paths: pieces of at most 8 characters
// lower-cased, a line feed appended.
std::string NormalizeEfs2Path(const std::string& path);

std::vector<uint8_t> BuildEfs2Query();
std::vector<uint8_t> BuildEfs2Open(const std::string& path, uint32_t flags, uint32_t mode);
std::vector<uint8_t> BuildEfs2Close(int32_t fd);
std::vector<uint8_t> BuildEfs2Write(int32_t fd, uint32_t offset, std::span<const uint8_t> data);
std::vector<uint8_t> BuildEfs2Stat(const std::string& path);
std::vector<uint8_t> BuildEfs2OpenDir(const std::string& path);
std::vector<uint8_t> BuildEfs2ReadDir(uint32_t handle, uint32_t sequence);
std::vector<uint8_t> BuildEfs2CloseDir(uint32_t handle);
std::vector<uint8_t> BuildEfs2MakeDir(const std::string& path, uint16_t mode);
std::vector<uint8_t> BuildEfs2RemoveDir(const std::string& path);
std::vector<uint8_t> BuildEfs2Unlink(const std::string& path);
std::vector<uint8_t> BuildEfs2RemoveFiles(const std::string& path);

// The error number of an answer whose only field it is (close, mkdir, rmdir, unlink, rmfiles,
// the first field of stat).
std::optional<uint32_t> ParseEfs2Error(std::span<const uint8_t> answer);

// A handle (file descriptor or directory) and the error number.
struct Efs2HandleAnswer {
  uint32_t handle = 0;
  uint32_t error = 0;
};
std::optional<Efs2HandleAnswer> ParseEfs2HandleAnswer(std::span<const uint8_t> answer);

struct Efs2WriteAnswer {
  uint32_t written = 0;
  uint32_t error = 0;
};
std::optional<Efs2WriteAnswer> ParseEfs2WriteAnswer(std::span<const uint8_t> answer);

struct Efs2StatInfo {
  uint32_t mode = 0;
  uint32_t size = 0;
  uint32_t atime = 0;
  uint32_t mtime = 0;
  uint32_t ctime = 0;
};
std::optional<Efs2StatInfo> ParseEfs2Stat(std::span<const uint8_t> answer);

struct Efs2DirEntry {
  std::string name;
  uint32_t mode = 0;
  uint32_t size = 0;
  uint32_t atime = 0;
  uint32_t mtime = 0;
  uint32_t ctime = 0;
  uint32_t type = 0;  // 0 file, 1 directory
};
// The sequence number of the next entry and the error number of a read-directory answer.
struct Efs2ReadDirHead {
  uint32_t next = 0;
  uint32_t error = 0;
};
std::optional<Efs2ReadDirHead> ParseEfs2ReadDirHead(std::span<const uint8_t> answer);
// The entry of a read-directory answer; its name runs to its NUL or to the end of the answer.
std::optional<Efs2DirEntry> ParseEfs2DirEntry(std::span<const uint8_t> answer);

}  // namespace tr52
