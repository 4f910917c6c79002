#include "platform/folder_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tr52 {

namespace {

constexpr uint32_t kEntryEvents =
    IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ATTRIB;
constexpr uint32_t kFolderEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_ATTRIB;

}  // namespace

FolderWatch::FolderWatch() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

FolderWatch::~FolderWatch() {
  if (fd_ >= 0) close(fd_);
}

void FolderWatch::Forget() {
  if (wd_ >= 0) inotify_rm_watch(fd_, wd_);
  wd_ = -1;
  dir_.clear();
}

bool FolderWatch::Watch(const std::string& dir) {
  Forget();
  if (fd_ < 0) return false;
  wd_ = inotify_add_watch(fd_, dir.c_str(),
                          kEntryEvents | kFolderEvents | IN_ONLYDIR | IN_DONT_FOLLOW);
  if (wd_ < 0) return false;
  dir_ = dir;
  return true;
}

bool FolderWatch::Changed(const std::function<bool(std::string_view name)>& relevant) {
  if (fd_ < 0) return false;
  bool changed = false;
  alignas(inotify_event) char buffer[8192];
  for (;;) {
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // EAGAIN: drained
    for (size_t at = 0; at + sizeof(inotify_event) <= static_cast<size_t>(n);) {
      inotify_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      const size_t next = at + sizeof(inotify_event) + event.len;
      if (next > static_cast<size_t>(n)) break;
      const char* name = buffer + at + sizeof(inotify_event);
      at = next;
      if (event.mask & IN_Q_OVERFLOW) {
        changed = true;
        continue;
      }
      if (event.wd != wd_) continue;  // a watch given up before
      if (event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
        changed = true;
        // A moved folder would still be watched where it went: not the folder named any more.
        if (event.mask & IN_MOVE_SELF) inotify_rm_watch(fd_, wd_);
        wd_ = -1;
        dir_.clear();
        continue;
      }
      if (event.len == 0) {
        changed = true;  // the folder itself (its permissions)
        continue;
      }
      if (relevant(std::string_view(name, strnlen(name, event.len)))) changed = true;
    }
  }
  return changed;
}

}  // namespace tr52
