#include "win/profile.h"

// Narrow strings only: the file's bytes are taken as they are.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION  // this header ships its template bodies on request
#include <SimpleIni.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace win {
namespace {

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
DWORD CopyList(const CSimpleIniA::TNamesDepend& names, char* buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  if (size == 1) {
    buffer[0] = '\0';
    return 0;
  }
  std::string joined;
  for (const auto& e : names) {
    joined += e.pItem;
    joined += '\0';
  }
  const size_t room = static_cast<size_t>(size) - 2;
  const size_t n = std::min(joined.size(), room);
  std::memcpy(buffer, joined.data(), n);
  buffer[n] = '\0';
  buffer[n + 1] = '\0';
  return static_cast<DWORD>(n);
}

bool Load(CSimpleIniA& ini, const char* fileName) {
  ini.SetSpaces(false);
  return ini.LoadFile(fileName) == SI_OK;
}

// Writes through a temporary file beside the target and renames it over the target, so a
// crash never leaves half a file.
bool Save(CSimpleIniA& ini, const char* fileName) {
  std::string data;
  if (ini.Save(data) < 0) return false;
  std::string tmp = std::string(fileName) + ".XXXXXX";
  const int fd = mkstemp(tmp.data());
  if (fd < 0) {
    return ini.SaveFile(fileName) == SI_OK;  // folder not writable for new files
  }
  // Keep the permissions of the file being replaced (new files: rw-r--r--).
  struct stat st;
  fchmod(fd, ::stat(fileName, &st) == 0 ? (st.st_mode & 07777) : 0644);
  bool ok = true;
  size_t done = 0;
  while (ok && done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = std::rename(tmp.c_str(), fileName) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

}  // namespace

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* buffer, DWORD size, const char* fileName) {
  if (!buffer || size == 0) return 0;
  const std::string fallback = defaultValue ? defaultValue : "";
  if (!fileName || !*fileName) return CopyOut(fallback, buffer, size);

  std::lock_guard<std::mutex> g(ProfileMutex());
  CSimpleIniA ini;
  const bool loaded = Load(ini, fileName);
  if (!section) {
    CSimpleIniA::TNamesDepend names;
    if (loaded) ini.GetAllSections(names);
    names.sort(CSimpleIniA::Entry::LoadOrder());
    return CopyList(names, buffer, size);
  }
  if (!key) {
    CSimpleIniA::TNamesDepend names;
    if (loaded) ini.GetAllKeys(section, names);
    names.sort(CSimpleIniA::Entry::LoadOrder());
    return CopyList(names, buffer, size);
  }
  const char* value = loaded ? ini.GetValue(section, key, nullptr) : nullptr;
  return CopyOut(value ? std::string(value) : fallback, buffer, size);
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName) {
  if (!section || !fileName || !*fileName) return false;
  std::lock_guard<std::mutex> g(ProfileMutex());
  CSimpleIniA ini;
  Load(ini, fileName);  // a missing file starts empty
  if (!key) {
    ini.Delete(section, nullptr);
  } else if (!value) {
    ini.Delete(section, key);
  } else if (ini.SetValue(section, key, value) < 0) {
    return false;
  }
  return Save(ini, fileName);
}

}  // namespace win
