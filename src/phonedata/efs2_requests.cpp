#include "phonedata/efs2_requests.h"

#include <algorithm>
#include <cctype>

#include "base/answer_reader.h"
#include "base/byte_reader.h"

namespace tr52 {

namespace {

// A request of `command` with `fixed` bytes before its data (zero past the command).
std::vector<uint8_t> Efs2Request(uint16_t command, size_t fixed) {
  std::vector<uint8_t> r(fixed, 0);
  r[0] = kDiagSubsysCommand;
  r[1] = kEfs2Subsystem;
  StoreU16le(r.data() + 2, command);
  return r;
}

// A request of `command` with the normalised path, NUL-terminated, at `pathOffset`.
std::vector<uint8_t> PathRequest(uint16_t command, const std::string& path, size_t pathOffset) {
  const std::string p = NormalizeEfs2Path(path);
  if (pathOffset + p.size() + 1 > kEfs2RequestMax) return {};
  std::vector<uint8_t> r = Efs2Request(command, pathOffset);
  r.insert(r.end(), p.begin(), p.end());
  r.push_back(0);
  return r;
}

std::vector<uint8_t> HandleRequest(uint16_t command, uint32_t handle) {
  std::vector<uint8_t> r = Efs2Request(command, 8);
  StoreU32le(r.data() + 4, handle);
  return r;
}

}  // namespace

std::string NormalizeEfs2Path(const std::string& path) {
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

std::vector<uint8_t> BuildEfs2Query() {
  return Efs2Request(EFS2_DIAG_QUERY, 4);
}

std::vector<uint8_t> BuildEfs2Open(const std::string& path, uint32_t flags, uint32_t mode) {
  std::vector<uint8_t> r = PathRequest(EFS2_DIAG_OPEN, path, 12);
  if (r.empty()) return r;
  StoreU32le(r.data() + 4, flags);
  StoreU32le(r.data() + 8, mode);
  return r;
}

std::vector<uint8_t> BuildEfs2Close(int32_t fd) {
  return HandleRequest(EFS2_DIAG_CLOSE, static_cast<uint32_t>(fd));
}

std::vector<uint8_t> BuildEfs2Write(int32_t fd, uint32_t offset, std::span<const uint8_t> data) {
  if (data.size() > kEfs2WriteDataMax) return {};
  std::vector<uint8_t> r = Efs2Request(EFS2_DIAG_WRITE, 12);
  StoreU32le(r.data() + 4, static_cast<uint32_t>(fd));
  StoreU32le(r.data() + 8, offset);
  r.insert(r.end(), data.begin(), data.end());
  return r;
}

std::vector<uint8_t> BuildEfs2Stat(const std::string& path) {
  return PathRequest(EFS2_DIAG_STAT, path, 4);
}

std::vector<uint8_t> BuildEfs2OpenDir(const std::string& path) {
  return PathRequest(EFS2_DIAG_OPENDIR, path, 4);
}

std::vector<uint8_t> BuildEfs2ReadDir(uint32_t handle, uint32_t sequence) {
  std::vector<uint8_t> r = Efs2Request(EFS2_DIAG_READDIR, 12);
  StoreU32le(r.data() + 4, handle);
  StoreU32le(r.data() + 8, sequence);
  return r;
}

std::vector<uint8_t> BuildEfs2CloseDir(uint32_t handle) {
  return HandleRequest(EFS2_DIAG_CLOSEDIR, handle);
}

std::vector<uint8_t> BuildEfs2MakeDir(const std::string& path, uint16_t mode) {
  std::vector<uint8_t> r = PathRequest(EFS2_DIAG_MKDIR, path, 6);
  if (!r.empty()) StoreU16le(r.data() + 4, mode);
  return r;
}

std::vector<uint8_t> BuildEfs2RemoveDir(const std::string& path) {
  return PathRequest(EFS2_DIAG_RMDIR, path, 4);
}

std::vector<uint8_t> BuildEfs2Unlink(const std::string& path) {
  return PathRequest(EFS2_DIAG_UNLINK, path, 4);
}

std::vector<uint8_t> BuildEfs2RemoveFiles(const std::string& path) {
  return PathRequest(EFS2_DIAG_RMFILES, path, 4);
}

std::optional<uint32_t> ParseEfs2Error(std::span<const uint8_t> answer) {
  return AnswerReader(answer).U32(4);
}

std::optional<Efs2HandleAnswer> ParseEfs2HandleAnswer(std::span<const uint8_t> answer) {
  AnswerReader reader(answer);
  const auto handle = reader.U32(4);
  const auto error = reader.U32(8);
  if (!handle || !error) return std::nullopt;
  return Efs2HandleAnswer{*handle, *error};
}

std::optional<Efs2WriteAnswer> ParseEfs2WriteAnswer(std::span<const uint8_t> answer) {
  AnswerReader reader(answer);
  const auto written = reader.U32(12);
  const auto error = reader.U32(16);
  if (!written || !error) return std::nullopt;
  return Efs2WriteAnswer{*written, *error};
}

std::optional<Efs2StatInfo> ParseEfs2Stat(std::span<const uint8_t> answer) {
  AnswerReader reader(answer);
  const auto mode = reader.U32(8);
  const auto size = reader.U32(12);
  const auto atime = reader.U32(20);
  const auto mtime = reader.U32(24);
  const auto ctime = reader.U32(28);
  if (!mode || !size || !atime || !mtime || !ctime) return std::nullopt;
  return Efs2StatInfo{*mode, *size, *atime, *mtime, *ctime};
}

std::optional<Efs2ReadDirHead> ParseEfs2ReadDirHead(std::span<const uint8_t> answer) {
  AnswerReader reader(answer);
  const auto next = reader.U32(8);
  const auto error = reader.U32(12);
  if (!next || !error) return std::nullopt;
  return Efs2ReadDirHead{*next, *error};
}

std::optional<Efs2DirEntry> ParseEfs2DirEntry(std::span<const uint8_t> answer) {
  AnswerReader reader(answer);
  const auto type = reader.U32(16);
  const auto mode = reader.U32(20);
  const auto size = reader.U32(24);
  const auto atime = reader.U32(28);
  const auto mtime = reader.U32(32);
  const auto ctime = reader.U32(36);
  auto name = reader.Text(40);
  if (!type || !mode || !size || !atime || !mtime || !ctime || !name) return std::nullopt;
  Efs2DirEntry entry;
  entry.type = *type;
  entry.mode = *mode;
  entry.size = *size;
  entry.atime = *atime;
  entry.mtime = *mtime;
  entry.ctime = *ctime;
  entry.name = std::move(*name);
  return entry;
}

}  // namespace tr52
