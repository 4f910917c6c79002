#include "vphone/pty_port.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace vphone {

std::unique_ptr<PtyPort> PtyPort::Open(std::string& error) {
  std::unique_ptr<PtyPort> p(new PtyPort);
  p->master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (p->master_ < 0) {
    error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    return nullptr;
  }
  char name[128];
  if (grantpt(p->master_) != 0 || unlockpt(p->master_) != 0 ||
      ptsname_r(p->master_, name, sizeof name) != 0) {
    error = std::string("cannot set up the pseudo-terminal: ") + std::strerror(errno);
    return nullptr;
  }
  p->path_ = name;
  p->slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (p->slave_ < 0) {
    error = "cannot open " + p->path_ + ": " + std::strerror(errno);
    return nullptr;
  }
  // Raw from the start: no echo, no line editing, no output processing, 115200 8N1.
  termios t{};
  if (tcgetattr(p->slave_, &t) == 0) {
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    tcsetattr(p->slave_, TCSANOW, &t);
  }
  return p;
}

PtyPort::~PtyPort() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
}

bool PtyPort::WaitReadable(int ms) const {
  pollfd pfd{master_, POLLIN, 0};
  return poll(&pfd, 1, ms) > 0 && (pfd.revents & POLLIN);
}

bool PtyPort::WaitReadableUs(int64_t us) const {
  pollfd pfd{master_, POLLIN, 0};
  us = std::max<int64_t>(us, 0);
  const timespec wait{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
  return ppoll(&pfd, 1, &wait, nullptr) > 0 && (pfd.revents & POLLIN);
}

size_t PtyPort::Read(uint8_t* buf, size_t max) {
  ssize_t n = read(master_, buf, max);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

bool PtyPort::WriteAll(const uint8_t* data, size_t length, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (length > 0) {
    ssize_t n = write(master_, data, length);
    if (n > 0) {
      data += n;
      length -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd pfd{master_, POLLOUT, 0};
    poll(&pfd, 1, static_cast<int>(std::min<long>(left.count(), 50)));
  }
  return true;
}

size_t PtyPort::Unread() const {
  int n = 0;
  if (ioctl(slave_, FIONREAD, &n) != 0 || n < 0) return 0;
  return static_cast<size_t>(n);
}

}  // namespace vphone
