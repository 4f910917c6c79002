#include "platform/serial_device.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace tr52 {
namespace {

int64_t RealMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

bool SerialDevice::IsGoneError(int err) {
  return err == EIO || err == ENXIO || err == ENODEV || err == EBADF;
}

bool SerialDevice::Open(const std::string& path) {
  if (fd_ >= 0) return true;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    lastError_ = errno;
    return false;
  }
  auto fail = [&](int err) {
    ::close(fd);
    lastError_ = err;
    return false;
  };
  // The lock keeps out a second opener even when running as root (TIOCEXCL does not).
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
  ioctl(fd, TIOCEXCL);

  struct termios found;
  if (tcgetattr(fd, &found) != 0) return fail(errno);
  struct termios tio = found;
  cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, B115200);
  cfsetospeed(&tio, B115200);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return fail(errno);

  fd_ = fd;
  found_ = found;
  SetModemLines(true);
  countsErrors_ = true;
  TakeLineErrors();  // start counting from now
  lastError_ = 0;
  return true;
}

void SerialDevice::Close() {
  if (fd_ < 0) return;
  // Output the phone never took is discarded: a USB serial driver would otherwise drain it on
  // close for up to its closing delay (30 s on CDC-ACM) when the phone stopped reading.
  tcflush(fd_, TCOFLUSH);
  tcsetattr(fd_, TCSANOW, &found_);
  // The exclusive flag belongs to the tty, not to this descriptor: left set while anything
  // else keeps the tty open (the phone side of a pty, a terminal program, a modem manager),
  // every later open by a non-root user would fail with EBUSY.
  ioctl(fd_, TIOCNXCL);
  ::close(fd_);  // releases the lock as well
  fd_ = -1;
}

int SerialDevice::Queued() {
  if (fd_ < 0) {
    lastError_ = EBADF;
    return -1;
  }
  int n = 0;
  if (ioctl(fd_, FIONREAD, &n) != 0) {
    lastError_ = errno;
    return -1;
  }
  return n;
}

ssize_t SerialDevice::Read(uint8_t* buffer, size_t max) {
  if (fd_ < 0) {
    lastError_ = EBADF;
    return -1;
  }
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, max);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) lastError_ = errno;
    return n;
  }
}

SerialDevice::Status SerialDevice::WriteAll(const uint8_t* buffer, size_t length,
                                            int realTimeoutMs) {
  if (fd_ < 0) {
    lastError_ = EBADF;
    return Status::Gone;
  }
  const int64_t deadline = RealMs() + realTimeoutMs;
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(fd_, buffer + done, length - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      lastError_ = errno;
      return IsGoneError(errno) ? Status::Gone : Status::Failed;
    }
    const int64_t left = deadline - RealMs();
    if (left <= 0) {
      lastError_ = ETIMEDOUT;
      return Status::Timeout;
    }
    struct pollfd p {
      fd_, POLLOUT, 0
    };
    const int r = poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno != EINTR) {
      lastError_ = errno;
      return Status::Failed;
    }
    if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLOUT)) {
      lastError_ = EIO;
      return Status::Gone;
    }
  }
  return Status::Ok;
}

bool SerialDevice::PurgeInput() {
  if (fd_ < 0) {
    lastError_ = EBADF;
    return false;
  }
  if (tcflush(fd_, TCIFLUSH) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

SerialDevice::Status SerialDevice::WaitReadable(int realTimeoutMs) {
  if (fd_ < 0) {
    lastError_ = EBADF;
    return Status::Gone;
  }
  struct pollfd p {
    fd_, POLLIN, 0
  };
  const int r = poll(&p, 1, realTimeoutMs < 0 ? 0 : realTimeoutMs);
  if (r < 0) {
    lastError_ = errno;
    return errno == EINTR ? Status::Timeout : Status::Failed;
  }
  if (r == 0) return Status::Timeout;
  if (p.revents & POLLIN) return Status::Ok;
  lastError_ = EIO;
  return Status::Gone;
}

bool SerialDevice::HungUp() {
  if (fd_ < 0) return true;
  struct pollfd p {
    fd_, POLLIN, 0
  };
  if (poll(&p, 1, 0) <= 0) return false;
  return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

unsigned SerialDevice::TakeLineErrors() {
  if (fd_ < 0 || !countsErrors_) return 0;
  struct serial_icounter_struct ic {};
  if (ioctl(fd_, TIOCGICOUNT, &ic) != 0) {
    countsErrors_ = false;  // the driver does not count: never ask again
    return 0;
  }
  const int now[5] = {ic.buf_overrun, ic.overrun, ic.parity, ic.frame, ic.brk};
  static constexpr unsigned kBits[5] = {0x0001, 0x0002, 0x0004, 0x0008, 0x0010};
  unsigned bits = 0;
  for (int i = 0; i < 5; ++i) {
    if (now[i] != counts_[i]) bits |= kBits[i];
    counts_[i] = now[i];
  }
  return bits;
}

bool SerialDevice::SetModemLines(bool on) {
  if (fd_ < 0) return false;
  int bits = TIOCM_DTR | TIOCM_RTS;
  if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) == 0) return true;
  return errno == ENOTTY || errno == EINVAL;  // no modem lines (pseudo-terminal)
}

}  // namespace tr52
