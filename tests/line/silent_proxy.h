// A relay in front of the test server's Unix socket, with a socket of its own in a folder of its
// own: the line database reached through it can be made to fall silent (no byte goes either way
// any more; new connections are taken and held without an answer), as a server or a network
// that stops answering does.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace tr52test {

class SilentProxy {
 public:
  // Relays to the server whose socket is `serverSocket`.
  explicit SilentProxy(std::string serverSocket);
  ~SilentProxy();
  SilentProxy(const SilentProxy&) = delete;
  SilentProxy& operator=(const SilentProxy&) = delete;

  // The folder of the proxy's socket (a libpq "host"); empty when it could not listen.
  const std::string& Folder() const { return folder_; }
  // Silent: nothing is relayed. Back to relaying, the connections held meanwhile are closed.
  void Silent(bool silent) { silent_ = silent; }

 private:
  void Loop();

  std::string server_;
  std::string folder_;
  int listener_ = -1;
  std::atomic<bool> silent_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace tr52test
