#include "link/com_map.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/private_dirs.h"

namespace tr52 {
namespace {

constexpr const char* kMapFile = "com-map";
constexpr const char* kLockFile = "com-map.lock";

// A file descriptor closed with its owner.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Holds the map's lock file locked for its lifetime (nothing when it cannot be opened).
class MapLock {
 public:
  explicit MapLock(const std::string& dir)
      : fd_(open((dir + "/" + kLockFile).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                 0600)) {
    if (fd_.Valid())
      while (flock(fd_.Get(), LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  bool Held() const { return fd_.Valid(); }

 private:
  Fd fd_;  // closing it releases the lock
};

std::string ErrText(int err) {
  return std::strerror(err);
}

// "COM<n>" with n a decimal number without leading zeros in the mapped range.
std::optional<int> ParseComField(std::string_view field) {
  if (field.size() < 4 || field.size() > 6 || field.substr(0, 3) != "COM") return std::nullopt;
  const std::string_view digits = field.substr(3);
  if (digits[0] == '0') return std::nullopt;
  int n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n < kFirstMappedCom || n > kLastMappedCom) return std::nullopt;
  return n;
}

enum class ReadResult { Ok, Missing, Damaged };

// Reads the map file without following a symbolic link; at most kMaxComMapBytes.
ReadResult ReadMapFile(const std::string& path, std::string& text, std::string& why) {
  Fd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) {
    if (errno == ENOENT) return ReadResult::Missing;
    why = errno == ELOOP ? "a symbolic link" : "cannot be read (" + ErrText(errno) + ")";
    return ReadResult::Damaged;
  }
  struct stat st;
  if (fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    why = "not a regular file";
    return ReadResult::Damaged;
  }
  if (static_cast<unsigned long long>(st.st_size) > kMaxComMapBytes) {
    why = "larger than " + std::to_string(kMaxComMapBytes) + " bytes";
    return ReadResult::Damaged;
  }
  text.clear();
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      why = "cannot be read (" + ErrText(errno) + ")";
      return ReadResult::Damaged;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > kMaxComMapBytes) {
      why = "larger than " + std::to_string(kMaxComMapBytes) + " bytes";
      return ReadResult::Damaged;
    }
  }
  return ReadResult::Ok;
}

// Writes `text` to a temporary file beside `path` and renames it over `path`.
bool WriteMapFile(const std::string& dir, const std::string& path, const std::string& text,
                  std::string& why) {
  std::string tmpl = dir + "/.com-map.XXXXXX";
  Fd fd(mkostemp(tmpl.data(), O_CLOEXEC));
  if (!fd.Valid()) {
    why = ErrText(errno);
    return false;
  }
  size_t done = 0;
  bool ok = true;
  while (done < text.size()) {
    const ssize_t n = write(fd.Get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (ok && fsync(fd.Get()) != 0) ok = false;
  if (ok && rename(tmpl.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    why = ErrText(errno);
    unlink(tmpl.c_str());
  }
  return ok;
}

}  // namespace

std::string ComMapDir() {
  if (const char* dir = std::getenv("TR52_COM_MAP_DIR"); dir && *dir) return dir;
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
    return std::string(state) + "/tr52";
  if (const char* home = std::getenv("HOME"); home && *home == '/')
    return std::string(home) + "/.local/state/tr52";
  return "";
}

bool ComMap::IsValidKey(std::string_view position) {
  if (position.empty() || position.size() > kMaxComMapKey) return false;
  for (char c : position) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == ':' || c == '.' || c == '-' || c == '_' || c == '+';
    if (!ok) return false;
  }
  return true;
}

ComMap ComMap::Parse(std::string_view text, std::vector<std::string>& problems) {
  ComMap map;
  size_t lineNo = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    const std::string where = "line " + std::to_string(lineNo);
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) {
      problems.push_back(where + ": not \"COM<n> <position>\"");
      continue;
    }
    const auto com = ParseComField(line.substr(0, space));
    const std::string_view key = line.substr(space + 1);
    if (!com) {
      problems.push_back(where + ": no COM number " + std::to_string(kFirstMappedCom) + ".." +
                         std::to_string(kLastMappedCom));
      continue;
    }
    if (!IsValidKey(key)) {
      problems.push_back(where + ": not a USB position");
      continue;
    }
    if (map.numbers_.count(*com) || map.byPosition_.count(std::string(key))) {
      problems.push_back(where + ": repeats a number or a position");
      continue;
    }
    map.byPosition_.emplace(std::string(key), *com);
    map.numbers_.insert(*com);
  }
  return map;
}

std::string ComMap::Format() const {
  std::map<int, const std::string*> byNumber;
  for (const auto& [position, com] : byPosition_) byNumber.emplace(com, &position);
  std::string text = "# COM number per USB position, kept by the TR52 station\n";
  for (const auto& [com, position] : byNumber)
    text += "COM" + std::to_string(com) + " " + *position + "\n";
  return text;
}

std::optional<int> ComMap::Find(const std::string& position) const {
  const auto it = byPosition_.find(position);
  if (it == byPosition_.end()) return std::nullopt;
  return it->second;
}

std::optional<int> ComMap::Assign(const std::string& position, const std::set<int>& reserved) {
  if (const auto known = Find(position)) return known;
  if (!IsValidKey(position)) return std::nullopt;
  for (int n = kFirstMappedCom; n <= kLastMappedCom; ++n) {
    if (numbers_.count(n) || reserved.count(n)) continue;
    byPosition_.emplace(position, n);
    numbers_.insert(n);
    changed_ = true;
    return n;
  }
  return std::nullopt;
}

std::vector<std::optional<int>> AssignComNumbers(const std::string& dir,
                                                 const std::vector<std::string>& positions,
                                                 const std::set<int>& reserved,
                                                 std::vector<std::string>& notes) {
  const std::string path = dir.empty() ? std::string() : dir + "/" + kMapFile;
  bool usable = !dir.empty() && MakePrivateDirs(dir);
  if (!usable)
    notes.push_back("COM map: no folder for it" + (dir.empty() ? std::string() : " (" + dir + ")") +
                    "; COM numbers are not kept");
  std::optional<MapLock> lock;
  if (usable) lock.emplace(dir);

  std::string text;
  std::string why;
  ReadResult read = usable ? ReadMapFile(path, text, why) : ReadResult::Missing;
  std::vector<std::string> problems;
  ComMap map = read == ReadResult::Ok ? ComMap::Parse(text, problems) : ComMap();
  if (read == ReadResult::Damaged) problems.push_back(why);
  const bool rebuilt = !problems.empty();
  if (rebuilt) {
    std::string line = "COM map " + path + " damaged (";
    for (size_t i = 0; i < problems.size() && i < 3; ++i) line += (i ? "; " : "") + problems[i];
    if (problems.size() > 3) line += "; ...";
    line += "): rebuilt with " + std::to_string(map.Size()) + " sound entries";
    notes.push_back(line);
  }

  std::vector<std::optional<int>> numbers;
  numbers.reserve(positions.size());
  for (const auto& position : positions) numbers.push_back(map.Assign(position, reserved));

  if (usable && (map.Changed() || rebuilt)) {
    // rename replaces a damaged file or a symbolic link in its place (never what it points to);
    // a folder in the way is left alone and the map stays unsaved.
    if (!WriteMapFile(dir, path, map.Format(), why))
      notes.push_back("COM map " + path + " not saved: " + why);
  }
  return numbers;
}

}  // namespace tr52
