#include "platform/port_table.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/atomic_file.h"
#include "platform/private_dirs.h"

namespace tr52 {
namespace {

// An entry holds at most "device=" + 4095 + "\nname=" + 255 + "\n" bytes; anything larger is
// not an entry, and is never read whole.
constexpr size_t kMaxEntryFile = 8192;

std::string EntryName(int com) {
  return "COM" + std::to_string(com) + ".port";
}

bool ValidText(std::string_view s, size_t maxLen) {
  if (s.empty() || s.size() > maxLen) return false;
  for (char c : s)
    if (c == '\n' || c == '\r' || c == '\0') return false;
  return true;
}

// The table folder, opened without following a symbolic link and checked to be the user's own:
// anyone else who could put entries there could make the link open any file as a phone port.
class TableFolder {
 public:
  // `problem` receives why an existing folder is refused (empty when it is missing).
  TableFolder(const std::string& dir, std::string& problem) {
    fd_ = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) {
      const int err = errno;
      struct stat st;
      if (err == ELOOP || (err == ENOTDIR && lstat(dir.c_str(), &st) == 0 && S_ISLNK(st.st_mode)))
        problem = "Port table " + dir + " refused: a symbolic link";
      else if (err != ENOENT)
        problem = "Port table " + dir + " refused: not a readable folder";
      errno = err == ENOENT ? ENOENT : EPERM;
      return;
    }
    struct stat st;
    const char* why = nullptr;
    if (fstat(fd_, &st) != 0)
      why = "cannot be examined";
    else if (st.st_uid != geteuid())
      why = "not owned by the user";
    else if (st.st_mode & (S_IWGRP | S_IWOTH))
      why = "writable by group or others";
    if (why) {
      problem = "Port table " + dir + " refused: " + why;
      close(fd_);
      fd_ = -1;
      errno = EPERM;
    }
  }
  ~TableFolder() {
    if (fd_ >= 0) close(fd_);
  }
  TableFolder(const TableFolder&) = delete;
  TableFolder& operator=(const TableFolder&) = delete;

  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
};

enum class EntryRead { Ok, Gone, Skipped };

// Reads one entry of the folder: only a regular file of at most kMaxEntryFile bytes, opened
// without following a link and without blocking (a FIFO placed in the table must not hang the
// port listing). `problem` says why an entry was skipped.
EntryRead ReadEntry(int dirFd, const char* name, std::string& text, std::string& problem) {
  // Looked at before it is opened, so that no FIFO or device is ever opened (opening a tty
  // raises its modem lines); checked again on the open file in case it was swapped meanwhile.
  struct stat st;
  if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return EntryRead::Gone;  // withdrawn meanwhile
    problem = "cannot be examined";
    return EntryRead::Skipped;
  }
  if (S_ISLNK(st.st_mode)) {
    problem = "a symbolic link";
    return EntryRead::Skipped;
  }
  if (!S_ISREG(st.st_mode)) {
    problem = "not a regular file";
    return EntryRead::Skipped;
  }
  const int fd = openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return EntryRead::Gone;
    problem = errno == ELOOP ? "a symbolic link" : "cannot be opened";
    return EntryRead::Skipped;
  }
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    problem = "not a regular file";
    return EntryRead::Skipped;
  }
  if (st.st_size > static_cast<off_t>(kMaxEntryFile)) {
    close(fd);
    problem = "larger than " + std::to_string(kMaxEntryFile) + " bytes";
    return EntryRead::Skipped;
  }
  text.clear();
  char buf[1024];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (text.size() > kMaxEntryFile) {  // grew while being read
      close(fd);
      problem = "larger than " + std::to_string(kMaxEntryFile) + " bytes";
      return EntryRead::Skipped;
    }
  }
  close(fd);
  return EntryRead::Ok;
}

}  // namespace

std::string PortTableDir() {
  auto trimmed = [](std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
  };
  if (const char* env = std::getenv("TR52_PORT_TABLE"); env && *env) return trimmed(env);
  if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run == '/')
    return trimmed(run) + "/tr52-ports";
  const char* tmp = std::getenv("TMPDIR");
  return trimmed(tmp && *tmp == '/' ? tmp : "/tmp") + "/tr52-ports-" +
         std::to_string(static_cast<unsigned long>(geteuid()));
}

std::string FormatPortEntry(const DeclaredPort& port) {
  return "device=" + port.devicePath + "\nname=" + port.friendlyName + "\n";
}

std::optional<DeclaredPort> ParsePortEntry(int com, std::string_view text) {
  if (com < 0 || com > kMaxDeclaredCom || text.size() > kMaxEntryFile) return std::nullopt;
  DeclaredPort port;
  port.com = com;
  bool haveDevice = false, haveName = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    const std::string_view key = line.substr(0, eq);
    const std::string_view value = line.substr(eq + 1);
    if (key == "device") {
      if (haveDevice || !ValidText(value, kMaxPortTablePath) || value.front() != '/')
        return std::nullopt;
      port.devicePath.assign(value);
      haveDevice = true;
    } else if (key == "name") {
      if (haveName || !ValidText(value, kMaxPortTableName)) return std::nullopt;
      port.friendlyName.assign(value);
      haveName = true;
    }
    // Unknown keys are ignored so that later versions may add some.
  }
  if (!haveDevice || !haveName) return std::nullopt;
  return port;
}

std::optional<int> ComFromEntryName(std::string_view name) {
  constexpr std::string_view kPrefix = "COM", kSuffix = ".port";
  if (name.size() <= kPrefix.size() + kSuffix.size() || name.substr(0, 3) != kPrefix ||
      name.substr(name.size() - kSuffix.size()) != kSuffix)
    return std::nullopt;
  const std::string_view digits = name.substr(3, name.size() - 3 - kSuffix.size());
  if (digits.empty() || digits.size() > 4) return std::nullopt;
  if (digits.size() > 1 && digits.front() == '0') return std::nullopt;  // one name per number
  int n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n > kMaxDeclaredCom) return std::nullopt;
  return n;
}

bool DeclarePort(int com, const std::string& devicePath, const std::string& friendlyName) {
  if (com < 0 || com > kMaxDeclaredCom || !ValidText(devicePath, kMaxPortTablePath) ||
      devicePath.front() != '/' || !ValidText(friendlyName, kMaxPortTableName)) {
    errno = EINVAL;
    return false;
  }
  const std::string dir = PortTableDir();
  if (!MakePrivateDirs(dir)) return false;
  std::string problem;
  const TableFolder folder(dir, problem);
  if (folder.Fd() < 0) return false;  // errno set by the check
  std::string error;
  if (!ReplaceFileAtomically(dir + "/" + EntryName(com),
                             FormatPortEntry({com, devicePath, friendlyName}), error, 0644)) {
    if (errno == 0) errno = EIO;
    return false;
  }
  return true;
}

bool WithdrawPort(int com) {
  if (com < 0 || com > kMaxDeclaredCom) return true;
  std::string problem;
  const TableFolder folder(PortTableDir(), problem);
  if (folder.Fd() < 0) return errno == ENOENT;  // no table: nothing declared; refused: untouched
  return unlinkat(folder.Fd(), EntryName(com).c_str(), 0) == 0 || errno == ENOENT;
}

PortTableListing ReadPortTableEntries() {
  PortTableListing listing;
  const std::string dir = PortTableDir();
  std::string problem;
  const TableFolder folder(dir, problem);
  if (folder.Fd() < 0) {
    if (!problem.empty()) listing.notes.push_back(problem);
    return listing;  // no table yet: nothing declared
  }
  const int scanFd = dup(folder.Fd());
  DIR* d = scanFd >= 0 ? fdopendir(scanFd) : nullptr;
  if (!d) {
    if (scanFd >= 0) close(scanFd);
    listing.notes.push_back("Port table " + dir + " cannot be read");
    return listing;
  }
  std::string text;
  while (struct dirent* e = readdir(d)) {
    const auto com = ComFromEntryName(e->d_name);
    if (!com) continue;
    problem.clear();
    const EntryRead got = ReadEntry(folder.Fd(), e->d_name, text, problem);
    if (got == EntryRead::Gone) continue;
    auto port = got == EntryRead::Ok ? ParsePortEntry(*com, text) : std::nullopt;
    if (got == EntryRead::Ok && !port) problem = "not a valid entry";
    if (!port) {
      listing.notes.push_back("Port table: skipped " + std::string(e->d_name) + " (" + problem +
                              ")");
      continue;
    }
    listing.ports.push_back(std::move(*port));
  }
  closedir(d);
  std::sort(listing.ports.begin(), listing.ports.end(),
            [](const DeclaredPort& a, const DeclaredPort& b) { return a.com < b.com; });
  return listing;
}

bool DeviceNodeExists(const DeclaredPort& port) {
  struct stat st;
  return stat(port.devicePath.c_str(), &st) == 0;
}

PortTableListing ReadPortTable() {
  PortTableListing listing = ReadPortTableEntries();
  std::erase_if(listing.ports, [](const DeclaredPort& p) { return !DeviceNodeExists(p); });
  return listing;
}

std::vector<DeclaredPort> ListDeclaredPorts() {
  return ReadPortTable().ports;
}

}  // namespace tr52
