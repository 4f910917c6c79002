#include "silent_proxy.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace tr52test {
namespace {

sockaddr_un Address(const std::string& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  return a;
}

struct Pair {
  int client = -1;
  int server = -1;  // -1 while silent: the connection is held unanswered
};

void Close(Pair& p) {
  if (p.client >= 0) ::close(p.client);
  if (p.server >= 0) ::close(p.server);
  p.client = p.server = -1;
}

// Moves what `from` has to `to`; false when either end is done.
bool Relay(int from, int to) {
  char buf[8192];
  const ssize_t n = ::read(from, buf, sizeof buf);
  if (n <= 0) return false;
  for (ssize_t sent = 0; sent < n;) {
    const ssize_t w = ::send(to, buf + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
    if (w <= 0) return false;
    sent += w;
  }
  return true;
}

}  // namespace

SilentProxy::SilentProxy(std::string serverSocket) : server_(std::move(serverSocket)) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "tr52-proxy-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) return;
  listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_un a = Address(tmpl + "/.s.PGSQL.5432");
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listener_, 16) != 0)
    return;
  folder_ = tmpl;
  thread_ = std::thread([this] { Loop(); });
}

SilentProxy::~SilentProxy() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) ::close(listener_);
  std::error_code ec;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
}

void SilentProxy::Loop() {
  std::vector<Pair> pairs;
  bool wasSilent = false;
  while (!stop_) {
    const bool silent = silent_;
    if (wasSilent && !silent) {
      for (Pair& p : pairs) Close(p);
      pairs.clear();
    }
    wasSilent = silent;
    std::vector<pollfd> fds = {{listener_, POLLIN, 0}};
    const size_t polled = silent ? 0 : pairs.size();
    if (!silent)
      for (const Pair& p : pairs) {
        fds.push_back({p.client, POLLIN, 0});
        fds.push_back({p.server, POLLIN, 0});
      }
    if (::poll(fds.data(), fds.size(), 50) <= 0) continue;
    if (fds[0].revents & POLLIN) {
      Pair p;
      p.client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (p.client >= 0 && !silent) {
        p.server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un a = Address(server_);
        if (::connect(p.server, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) Close(p);
      }
      if (p.client >= 0) pairs.push_back(p);
    }
    for (size_t i = 0; i < polled; ++i) {
      Pair& p = pairs[i];
      const pollfd& c = fds[1 + 2 * i];
      const pollfd& s = fds[2 + 2 * i];
      if (p.client < 0) continue;
      if (p.server < 0 || ((c.revents & (POLLIN | POLLHUP)) && !Relay(p.client, p.server)) ||
          ((s.revents & (POLLIN | POLLHUP)) && !Relay(p.server, p.client)))
        Close(p);
    }
    std::erase_if(pairs, [](const Pair& p) { return p.client < 0; });
  }
  for (Pair& p : pairs) Close(p);
}

}  // namespace tr52test
