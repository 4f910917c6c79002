#include "platform/port_table.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace tr52 {
namespace {

constexpr const char* kDefaultDir = "/tmp/tr52-ports";
constexpr size_t kMaxEntryFile = 8192;

std::string EntryPath(int com) {
  return PortTableDir() + "/COM" + std::to_string(com) + ".port";
}

bool ValidText(std::string_view s, size_t maxLen) {
  if (s.empty() || s.size() > maxLen) return false;
  for (char c : s)
    if (c == '\n' || c == '\r' || c == '\0') return false;
  return true;
}

bool MakeDirs(const std::string& dir) {
  if (dir.empty()) return false;
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    partial = dir.substr(0, pos);
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::optional<std::string> ReadSmallFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string out;
  char buf[1024];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
    if (out.size() > kMaxEntryFile) {
      close(fd);
      return std::nullopt;
    }
  }
  close(fd);
  return out;
}

}  // namespace

std::string PortTableDir() {
  const char* env = std::getenv("TR52_PORT_TABLE");
  std::string dir = env && *env ? env : kDefaultDir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
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
  if (!MakeDirs(dir)) return false;
  std::string tmpl = dir + "/.COM" + std::to_string(com) + ".port.XXXXXX";
  const int fd = mkstemp(tmpl.data());
  if (fd < 0) return false;
  fchmod(fd, 0644);
  const bool written = WriteAll(fd, FormatPortEntry({com, devicePath, friendlyName}));
  const bool closed = close(fd) == 0;
  if (!written || !closed || rename(tmpl.c_str(), EntryPath(com).c_str()) != 0) {
    const int saved = errno;
    unlink(tmpl.c_str());
    errno = saved;
    return false;
  }
  return true;
}

bool WithdrawPort(int com) {
  if (com < 0 || com > kMaxDeclaredCom) return true;
  return unlink(EntryPath(com).c_str()) == 0 || errno == ENOENT;
}

std::vector<DeclaredPort> ListDeclaredPorts() {
  std::vector<DeclaredPort> ports;
  const std::string dir = PortTableDir();
  DIR* d = opendir(dir.c_str());
  if (!d) return ports;  // no table yet: nothing declared
  while (struct dirent* e = readdir(d)) {
    const auto com = ComFromEntryName(e->d_name);
    if (!com) continue;
    const auto text = ReadSmallFile(dir + "/" + e->d_name);
    if (!text) continue;  // withdrawn meanwhile, or not a valid entry
    auto port = ParsePortEntry(*com, *text);
    if (!port) continue;
    struct stat st;
    if (stat(port->devicePath.c_str(), &st) != 0) continue;  // device node gone: not present
    ports.push_back(std::move(*port));
  }
  closedir(d);
  std::sort(ports.begin(), ports.end(),
            [](const DeclaredPort& a, const DeclaredPort& b) { return a.com < b.com; });
  return ports;
}

}  // namespace tr52
