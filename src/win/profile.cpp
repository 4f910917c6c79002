#include "win/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/atomic_file.h"
#include "win/profile_text.h"

namespace win {
namespace {

// A settings file is a few lines; anything far larger is not one.
constexpr off_t kMaxProfileBytes = off_t{16} << 20;

std::mutex& ProfileMutex() {
  static std::mutex* m = new std::mutex();
  return *m;
}

DWORD CopyOut(const std::string& text, char* buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  const size_t n = std::min(text.size(), static_cast<size_t>(size) - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<DWORD>(n);
}

// A list of NUL-terminated names with a final NUL; names that do not fit are cut.
DWORD CopyList(const std::vector<std::string>& names, char* buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  if (size == 1) {
    buffer[0] = '\0';
    return 0;
  }
  std::string joined;
  for (const auto& name : names) {
    joined += name;
    joined += '\0';
  }
  const size_t room = static_cast<size_t>(size) - 2;
  const size_t n = std::min(joined.size(), room);
  std::memcpy(buffer, joined.data(), n);
  buffer[n] = '\0';
  buffer[n + 1] = '\0';
  return static_cast<DWORD>(n);
}

enum class FileState { Missing, Loaded, Unreadable };

// Reads and parses `fileName`. A file that exists but cannot be read whole is Unreadable (and
// `error` says why): it must not pass for an empty one, or a write would wipe its entries.
// Never blocks on a FIFO or a device put in the file's place.
FileState Load(ProfileText& profile, const char* fileName, std::string& error) {
  const int fd = ::open(fileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return FileState::Missing;
    error = std::string("cannot read ") + fileName + ": " + std::strerror(errno);
    return FileState::Unreadable;
  }
  std::string bytes;
  struct stat st {};
  int err = 0;
  if (::fstat(fd, &st) != 0) {
    err = errno;
  } else if (!S_ISREG(st.st_mode) || st.st_size > kMaxProfileBytes) {
    err = S_ISREG(st.st_mode) ? EFBIG : EINVAL;
  } else {
    char buf[4096];
    for (;;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) err = errno;
      if (n <= 0) break;
      bytes.append(buf, static_cast<size_t>(n));
      if (bytes.size() > static_cast<size_t>(kMaxProfileBytes)) {
        err = EFBIG;
        break;
      }
    }
  }
  ::close(fd);
  if (err == 0 && !profile.Parse(bytes)) err = ENOMEM;
  if (err != 0) {
    error = std::string("cannot read ") + fileName + ": " +
            (err == EINVAL ? "not a regular file" : std::strerror(err));
    return FileState::Unreadable;
  }
  return FileState::Loaded;
}

}  // namespace

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* buffer, DWORD size, const char* fileName) {
  if (!buffer || size == 0) return 0;
  const std::string fallback = defaultValue ? defaultValue : "";
  if (!fileName || !*fileName) return CopyOut(fallback, buffer, size);

  std::lock_guard<std::mutex> g(ProfileMutex());
  ProfileText profile;
  std::string error;
  const bool loaded = Load(profile, fileName, error) == FileState::Loaded;
  if (!section)
    return CopyList(loaded ? profile.SectionNames() : std::vector<std::string>(), buffer, size);
  if (!key)
    return CopyList(loaded ? profile.KeyNames(section) : std::vector<std::string>(), buffer, size);
  const auto value = loaded ? profile.Value(section, key) : std::nullopt;
  return CopyOut(value.value_or(fallback), buffer, size);
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName, std::string* why) {
  std::string error;
  const bool ok = [&] {
    if (!section || !fileName || !*fileName) {
      error = "no section or no file named";
      return false;
    }
    std::lock_guard<std::mutex> g(ProfileMutex());
    ProfileText profile;
    if (Load(profile, fileName, error) == FileState::Unreadable) return false;
    if (!key) {
      profile.Remove(section, nullptr);
    } else if (!value) {
      profile.Remove(section, key);
    } else if (!profile.Set(section, key, value, error)) {
      return false;
    }
    return tr52::ReplaceFileAtomically(fileName, profile.Text(), error);
  }();
  if (why) *why = ok ? std::string() : error;
  return ok;
}

}  // namespace win
