#include "session/session_registry.h"

#include <algorithm>
#include <utility>

#include "base/module_singleton.h"
#include "session/download_session.h"

namespace tr52 {

SessionRegistry& SessionRegistry::Instance() {
  return ModuleSingleton<SessionRegistry>::Get();
}

void SessionRegistry::ReleaseInstance() {
  ModuleSingleton<SessionRegistry>::Release();
}

void SessionRegistry::Add(DownloadSession* session) {
  sessions_.push_back(session);
}

DownloadSession* SessionRegistry::FindByPort(int port) const {
  for (DownloadSession* s : sessions_)
    if (static_cast<int>(s->Port()) == port) return s;
  return nullptr;
}

bool SessionRegistry::Remove(DownloadSession* session) {
  auto it = std::find(sessions_.begin(), sessions_.end(), session);
  if (it == sessions_.end()) return false;
  sessions_.erase(it);
  return true;
}

std::vector<DownloadSession*> SessionRegistry::TakeAll() {
  return std::exchange(sessions_, {});
}

}  // namespace tr52
