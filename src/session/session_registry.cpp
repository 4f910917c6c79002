#include "session/session_registry.h"

#include <utility>

#include "session/download_session.h"

namespace tr52 {

SessionRegistry::SessionRegistry() = default;
SessionRegistry::~SessionRegistry() = default;

void SessionRegistry::Add(std::unique_ptr<DownloadSession>&& session) {
  std::lock_guard<std::mutex> hold(lock_);
  sessions_.push_back(std::move(session));
}

DownloadSession* SessionRegistry::FindLocked(int port) const {
  for (const auto& s : sessions_)
    if (static_cast<int>(s->Port()) == port) return s.get();
  return nullptr;
}

bool SessionRegistry::Has(int port) const {
  std::lock_guard<std::mutex> hold(lock_);
  return FindLocked(port) != nullptr;
}

std::unique_ptr<DownloadSession> SessionRegistry::Take(int port) {
  std::lock_guard<std::mutex> hold(lock_);
  for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
    if (static_cast<int>((*it)->Port()) != port) continue;
    std::unique_ptr<DownloadSession> session = std::move(*it);
    sessions_.erase(it);
    return session;
  }
  return nullptr;
}

std::vector<std::unique_ptr<DownloadSession>> SessionRegistry::TakeAll() {
  std::lock_guard<std::mutex> hold(lock_);
  return std::exchange(sessions_, {});
}

size_t SessionRegistry::Count() const {
  std::lock_guard<std::mutex> hold(lock_);
  return sessions_.size();
}

}  // namespace tr52
