#include "platform/private_dirs.h"

#include <sys/stat.h>

#include <cerrno>

namespace tr52 {

bool MakePrivateDirs(const std::string& dir) {
  if (dir.empty()) return false;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    const std::string partial = dir.substr(0, pos);
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

}  // namespace tr52
