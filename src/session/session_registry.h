// The connected download sessions, one list for the module, owning what it holds.
//
// IsConnected adds a session and CloseProgress takes it out again; look-ups scan from the first
// entry and stop at the first session with the port. Every call locks inside. A function given
// to WithSession runs under that lock: it must not call back into the registry.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "base/owned_list.h"

namespace tr52 {

class DownloadSession;

class SessionRegistry {
 public:
  SessionRegistry();
  // Frees the sessions still listed (the module ends every port before that).
  ~SessionRegistry();

  SessionRegistry(const SessionRegistry&) = delete;
  SessionRegistry& operator=(const SessionRegistry&) = delete;

  // Appends the session. Should the list fail to grow, `session` is left with the caller.
  void Add(std::unique_ptr<DownloadSession>&& session);
  // Runs `fn(session)` on the first session of `port` under the registry lock; false, without
  // running it, when the port has none.
  template <typename Fn>
  bool WithSession(int port, Fn&& fn) {
    return sessions_.With(OnPort{port}, std::forward<Fn>(fn));
  }
  bool Has(int port) const;
  // Takes the first session of `port` out of the list; null when there is none.
  [[nodiscard]] std::unique_ptr<DownloadSession> Take(int port);
  // Takes every session out, in registration order.
  [[nodiscard]] std::vector<std::unique_ptr<DownloadSession>> TakeAll();
  size_t Count() const;

 private:
  struct OnPort {
    int port;
    bool operator()(const DownloadSession& session) const;
  };

  OwnedList<DownloadSession> sessions_;
};

}  // namespace tr52
