#include "history_paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace history {

std::string DefaultHistoryPath() {
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
    return std::string(state) + "/tr52/history.sqlite";
  std::string home;
  if (const char* env = std::getenv("HOME"); env && *env == '/') {
    home = env;
  } else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir == '/') {
    home = pw->pw_dir;
  }
  return home.empty() ? "" : home + "/.local/state/tr52/history.sqlite";
}

std::string DefaultStationId() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "station";
  return name;
}

}  // namespace history
