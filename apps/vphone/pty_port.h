// One raw pseudo-terminal pair: the phone keeps the master and also holds the slave open, so
// that the host closing and reopening its side never hangs the line up under the phone.
// Closing the pair makes the device node vanish, as a USB serial port does when the handset
// reboots or the cable is pulled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vphone {

class PtyPort {
 public:
  // A new raw pair; nullptr with a message in `error` on failure.
  static std::unique_ptr<PtyPort> Open(std::string& error);
  ~PtyPort();
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;

  const std::string& DevicePath() const { return path_; }
  int MasterFd() const { return master_; }

  // Waits up to `ms` real milliseconds for bytes from the host; true when some are there.
  bool WaitReadable(int ms) const;
  // The same with a wait in real microseconds.
  bool WaitReadableUs(int64_t us) const;
  // Reads what is there (non-blocking); 0 when nothing.
  size_t Read(uint8_t* buf, size_t max);
  // Writes everything, waiting for room at most `timeoutMs` real milliseconds in all.
  bool WriteAll(const uint8_t* data, size_t length, int timeoutMs);
  // Bytes written by the phone that the host has not read yet.
  size_t Unread() const;

 private:
  PtyPort() = default;
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

}  // namespace vphone
