// The host side of a virtual phone's pseudo-terminal for tests: writes framed requests and
// reads answer frames with a time-out, using nothing of the host's link layer but the codec.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "link/frame_codec.h"
#include "vphone/responder.h"

namespace vphone {

class RawHost {
 public:
  explicit RawHost(const std::string& device) {
    fd_ = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ >= 0) {
      termios t{};
      tcgetattr(fd_, &t);
      cfmakeraw(&t);
      tcsetattr(fd_, TCSANOW, &t);
    }
  }
  ~RawHost() {
    if (fd_ >= 0) close(fd_);
  }
  bool Ok() const { return fd_ >= 0; }

  bool WriteRaw(const Bytes& bytes) {
    return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  bool Send(const Bytes& payload) {
    tr52::FrameCodec codec;
    if (!codec.ComputeTxCRC(payload.data(), payload.size())) return false;
    return WriteRaw(Bytes(codec.TxBuffer(), codec.TxBuffer() + codec.TxLength()));
  }

  struct Frame {
    Bytes payload;
    bool good = false;
  };
  // Frames that arrive within `ms` real milliseconds, returning as soon as `count` arrived.
  std::vector<Frame> Receive(size_t count, int ms) {
    std::vector<Frame> frames;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    uint8_t buf[4096];
    while (frames.size() < count) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      end - std::chrono::steady_clock::now())
                      .count();
      if (left <= 0) break;
      pollfd pfd{fd_, POLLIN, 0};
      if (poll(&pfd, 1, static_cast<int>(left)) <= 0) continue;
      ssize_t n = read(fd_, buf, sizeof buf);
      if (n <= 0) {
        if (pfd.revents & (POLLHUP | POLLERR)) {
          hungUp_ = true;
          break;
        }
        continue;
      }
      rawReceived_ += static_cast<size_t>(n);
      for (ssize_t i = 0; i < n; ++i) {
        if (!assembler_.Feed(buf[i])) continue;
        Frame f;
        f.good = codec_.CheckRxFrame(assembler_.Frame(), assembler_.FrameLength());
        if (codec_.RxLength() >= 2)
          f.payload.assign(codec_.RxBuffer(), codec_.RxBuffer() + codec_.RxLength() - 2);
        frames.push_back(std::move(f));
      }
    }
    return frames;
  }
  // One good frame's payload, or empty.
  Bytes Ask(const Bytes& request, int ms = 2000) {
    if (!Send(request)) return {};
    auto frames = Receive(1, ms);
    return frames.size() == 1 && frames[0].good ? frames[0].payload : Bytes{};
  }
  bool HungUp() const { return hungUp_; }
  size_t RawReceived() const { return rawReceived_; }

 private:
  int fd_ = -1;
  bool hungUp_ = false;
  size_t rawReceived_ = 0;
  tr52::FrameAssembler assembler_;
  tr52::FrameCodec codec_;
};

}  // namespace vphone
