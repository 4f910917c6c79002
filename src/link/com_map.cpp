#include "link/com_map.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include "platform/atomic_file.h"
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

// Holds the map's lock file locked for its lifetime. Another process holding it longer than the
// wait is taken as stuck (a hung listing, a lock file on a stale network mount): the caller then
// goes on without it rather than freezing the host's ports.
class MapLock {
 public:
  enum class State { Held, NoFile, TimedOut };

  MapLock(const std::string& dir, int waitMs)
      : fd_(open((dir + "/" + kLockFile).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                 0600)) {
    if (!fd_.Valid()) {
      state_ = State::NoFile;
      return;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
      if (flock(fd_.Get(), LOCK_EX | LOCK_NB) == 0) {
        state_ = State::Held;
        return;
      }
      if (errno != EWOULDBLOCK && errno != EINTR) {
        state_ = State::NoFile;
        return;
      }
      if (std::chrono::steady_clock::now() >= until) {
        state_ = State::TimedOut;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  State Get() const { return state_; }

 private:
  Fd fd_;  // closing it releases the lock
  State state_ = State::NoFile;
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

std::string FormatUtcStamp(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm tm {};
  if (seconds < 0 || !gmtime_r(&t, &tm) || tm.tm_year + 1900 > 9999) return "";
  char text[80];  // room for any int, as the compiler counts
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

std::optional<int64_t> ParseUtcStamp(std::string_view text) {
  // Exactly "YYYY-MM-DDTHH:MM:SSZ".
  constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != kShape.size()) return std::nullopt;
  for (size_t i = 0; i < kShape.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return std::nullopt;
  }
  auto number = [&](size_t at, size_t length) {
    int n = 0;
    for (size_t i = at; i < at + length; ++i) n = n * 10 + (text[i] - '0');
    return n;
  };
  struct tm tm {};
  tm.tm_year = number(0, 4) - 1900;
  tm.tm_mon = number(5, 2) - 1;
  tm.tm_mday = number(8, 2);
  tm.tm_hour = number(11, 2);
  tm.tm_min = number(14, 2);
  tm.tm_sec = number(17, 2);
  if (tm.tm_year < 70 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_hour > 23 || tm.tm_min > 59 ||
      tm.tm_sec > 59)
    return std::nullopt;
  struct tm check = tm;
  const time_t t = timegm(&check);
  // timegm carries a day past the month's end into the next month: such a date is not one.
  if (t < 0 || check.tm_mday != tm.tm_mday || check.tm_mon != tm.tm_mon) return std::nullopt;
  return static_cast<int64_t>(t);
}

void ComMap::Add(const std::string& position, Entry entry) {
  byPosition_[position] = entry;
  byNumber_[entry.com] = position;
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
      problems.push_back(where + ": not \"COM<n> <position> <last seen>\"");
      continue;
    }
    const auto com = ParseComField(line.substr(0, space));
    std::string_view key = line.substr(space + 1);
    std::string_view seen;
    if (const size_t second = key.find(' '); second != std::string_view::npos) {
      seen = key.substr(second + 1);
      key = key.substr(0, second);
    }
    if (!com) {
      problems.push_back(where + ": no COM number " + std::to_string(kFirstMappedCom) + ".." +
                         std::to_string(kLastMappedCom));
      continue;
    }
    if (!IsValidKey(key)) {
      problems.push_back(where + ": not a USB position");
      continue;
    }
    if (map.byNumber_.count(*com) || map.byPosition_.count(std::string(key))) {
      problems.push_back(where + ": repeats a number or a position");
      continue;
    }
    Entry entry{*com, 0};
    if (!seen.empty() || line.back() == ' ') {
      const auto stamp = ParseUtcStamp(seen);
      if (stamp)
        entry.lastSeen = *stamp;
      else
        problems.push_back(where + ": last seen is not \"YYYY-MM-DDTHH:MM:SSZ\"");
    }
    map.Add(std::string(key), entry);
  }
  return map;
}

std::string ComMap::Format() const {
  std::string text =
      "# COM number per USB position and when it was last seen (UTC), kept by the TR52 station\n";
  for (const auto& [com, position] : byNumber_) {
    const int64_t seen = byPosition_.at(position).lastSeen;
    const std::string stamp = seen > 0 ? FormatUtcStamp(seen) : "";
    text +=
        "COM" + std::to_string(com) + " " + position + (stamp.empty() ? "" : " " + stamp) + "\n";
  }
  return text;
}

std::optional<int> ComMap::Find(const std::string& position) const {
  const auto it = byPosition_.find(position);
  if (it == byPosition_.end()) return std::nullopt;
  return it->second.com;
}

std::optional<ComMap::Entry> ComMap::Lookup(const std::string& position) const {
  const auto it = byPosition_.find(position);
  if (it == byPosition_.end()) return std::nullopt;
  return it->second;
}

void ComMap::Seen(const std::string& position, int64_t now) {
  const auto it = byPosition_.find(position);
  if (it == byPosition_.end() || FormatUtcStamp(now).empty()) return;
  int64_t& seen = it->second.lastSeen;
  if (seen > 0 && seen - now < kComMapSeenResolution && now - seen < kComMapSeenResolution) return;
  seen = now;
  changed_ = true;
}

ComMap::Assignment ComMap::Assign(const std::string& position, const std::set<int>& reserved,
                                  const std::set<std::string>& keep, int64_t now) {
  Assignment result;
  if (const auto known = Find(position)) {
    Seen(position, now);
    result.com = known;
    return result;
  }
  if (!IsValidKey(position)) return result;
  for (int n = kFirstMappedCom; n <= kLastMappedCom; ++n) {
    if (byNumber_.count(n) || reserved.count(n)) continue;
    Add(position, {n, now});
    changed_ = true;
    result.com = n;
    return result;
  }
  // Full: the number of the position seen longest ago (byNumber_ runs by number, so the first
  // of equals is the lower number).
  const std::string* oldest = nullptr;
  for (const auto& [com, held] : byNumber_) {
    if (reserved.count(com) || keep.count(held)) continue;
    const int64_t seen = byPosition_.at(held).lastSeen;
    if (seen > 0 && now - seen < kComMapRecycleAfter) continue;
    if (!oldest || byPosition_.at(held).lastSeen < byPosition_.at(*oldest).lastSeen) oldest = &held;
  }
  if (!oldest) return result;
  const std::string from = *oldest;
  const Entry old = byPosition_.at(from);
  byPosition_.erase(from);
  Add(position, {old.com, now});
  changed_ = true;
  result.com = old.com;
  result.recycledFrom = from;
  result.recycledLastSeen = old.lastSeen;
  return result;
}

std::vector<std::optional<int>> AssignComNumbers(const std::string& dir, const ComMapUpdate& update,
                                                 std::vector<std::string>& notes) {
  const std::string path = dir.empty() ? std::string() : dir + "/" + kMapFile;
  bool usable = !dir.empty() && MakePrivateDirs(dir);
  if (!usable)
    notes.push_back("COM map: no folder for it" + (dir.empty() ? std::string() : " (" + dir + ")") +
                    "; COM numbers are not kept");
  bool save = usable;
  std::optional<MapLock> lock;
  if (usable) lock.emplace(dir, update.lockWaitMs);
  if (lock && lock->Get() == MapLock::State::TimedOut) {
    notes.push_back("COM map " + path + ": another process held its lock for more than " +
                    std::to_string(update.lockWaitMs) +
                    " ms; COM numbers are given from the map as read, and it is not saved");
    save = false;
  }

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

  const int64_t now = update.now > 0 ? update.now : static_cast<int64_t>(std::time(nullptr));
  const std::set<std::string> keep(update.present.begin(), update.present.end());
  for (const auto& position : update.vanished) map.Seen(position, now);
  std::vector<std::optional<int>> numbers;
  numbers.reserve(update.present.size());
  for (const auto& position : update.present) {
    const ComMap::Assignment given = map.Assign(position, update.reserved, keep, now);
    numbers.push_back(given.com);
    if (!given.recycledFrom.empty())
      notes.push_back("COM map full: COM" + std::to_string(*given.com) + " goes to " + position +
                      ", taken from " + given.recycledFrom + " (last seen " +
                      (given.recycledLastSeen > 0 ? FormatUtcStamp(given.recycledLastSeen)
                                                  : std::string("at an unknown time")) +
                      ")");
    else if (!given.com && ComMap::IsValidKey(position))
      notes.push_back("COM map full: no COM number for " + position + ": COM" +
                      std::to_string(kFirstMappedCom) + " to COM" + std::to_string(kLastMappedCom) +
                      " all belong to the port table or to ports seen in the last " +
                      std::to_string(kComMapRecycleAfter / 60) + " minutes");
  }

  if (save && (map.Changed() || rebuilt)) {
    // rename replaces a damaged file or a symbolic link in its place (never what it points to);
    // a folder in the way is left alone and the map stays unsaved.
    if (!ReplaceFileAtomically(path, map.Format(), why, 0600))
      notes.push_back("COM map " + path + " not saved: " + why);
  }
  return numbers;
}

}  // namespace tr52
