// Changes in one folder, told by inotify without blocking: for a caller that keeps what a folder
// holds in memory and reads it again only when something in it changed.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tr52 {

class FolderWatch {
 public:
  FolderWatch();  // an inotify instance; without one, Watch always fails
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Watches the folder `dir` (a symbolic link is not followed) instead of what was watched
  // before. False when it cannot be watched (missing, not a folder, no inotify).
  [[nodiscard]] bool Watch(const std::string& dir);
  // Whether a folder is watched: false before Watch, and once the folder was removed, moved
  // or unmounted (watch it again, and read it again, when it is back).
  bool Watching() const { return wd_ >= 0; }
  const std::string& Folder() const { return dir_; }
  // Readable when events wait (for poll); -1 without inotify.
  int Fd() const { return fd_; }

  // Drains the events received so far: true when an entry for which `relevant(name)` holds was
  // created, written, renamed, changed or removed, when the folder itself changed (its
  // permissions, its removal), or when events were lost.
  [[nodiscard]] bool Changed(const std::function<bool(std::string_view name)>& relevant);

 private:
  void Forget();

  int fd_ = -1;
  int wd_ = -1;
  std::string dir_;
};

}  // namespace tr52
