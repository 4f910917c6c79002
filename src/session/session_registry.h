// The process-wide list of connected download sessions and the session lock.
//
// Entries are appended by IsConnected and removed by CloseProgress; look-ups scan from the
// first entry and stop at the first session with the port. The registry does not own what it
// points to: whoever removes a session deletes it.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace tr52 {

template <typename>
class ModuleSingleton;

class DownloadSession;

class SessionRegistry {
 public:
  static SessionRegistry& Instance();
  // Frees the registry (its array, not the objects in it) when the module unloads.
  static void ReleaseInstance();

  // The session lock (re-entrant). Hold it around every call below.
  std::recursive_mutex& Lock() { return lock_; }

  void Add(DownloadSession* session);
  // First session whose port is `port` (compared after widening), or null.
  DownloadSession* FindByPort(int port) const;
  // Removes the entry (the first one pointing at `session`); false when it is not listed.
  bool Remove(DownloadSession* session);
  // Removes every entry and hands them over, in registration order.
  std::vector<DownloadSession*> TakeAll();
  size_t Count() const { return sessions_.size(); }

  SessionRegistry(const SessionRegistry&) = delete;
  SessionRegistry& operator=(const SessionRegistry&) = delete;

 private:
  template <typename>
  friend class ModuleSingleton;
  SessionRegistry() = default;

  std::recursive_mutex lock_;
  std::vector<DownloadSession*> sessions_;
};

}  // namespace tr52
