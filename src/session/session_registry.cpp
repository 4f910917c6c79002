#include "session/session_registry.h"

#include "session/download_session.h"

namespace tr52 {

SessionRegistry::SessionRegistry() = default;
SessionRegistry::~SessionRegistry() = default;

bool SessionRegistry::OnPort::operator()(const DownloadSession& session) const {
  return static_cast<int>(session.Port()) == port;
}

void SessionRegistry::Add(std::unique_ptr<DownloadSession>&& session) {
  sessions_.Add(std::move(session));
}

bool SessionRegistry::Has(int port) const {
  return sessions_.Any(OnPort{port});
}

std::unique_ptr<DownloadSession> SessionRegistry::Take(int port) {
  return sessions_.Take(OnPort{port});
}

std::vector<std::unique_ptr<DownloadSession>> SessionRegistry::TakeAll() {
  return sessions_.TakeAll();
}

size_t SessionRegistry::Count() const {
  return sessions_.Count();
}

}  // namespace tr52
