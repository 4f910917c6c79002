// One serial device node (a USB serial port or a pseudo-terminal) opened the way the phone link
// needs it: exclusive (TIOCEXCL and an flock on the node), raw 115200 8N1, no flow control,
// DTR and RTS raised, non-blocking. Closes itself on destruction, leaving the line as it found
// it: not exclusive, with the settings found at open, and without output still queued.
#pragma once

#include <sys/types.h>
#include <termios.h>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tr52 {

class SerialDevice {
 public:
  enum class Status { Ok, Timeout, Gone, Failed };

  SerialDevice() = default;
  ~SerialDevice() { Close(); }
  SerialDevice(const SerialDevice&) = delete;
  SerialDevice& operator=(const SerialDevice&) = delete;

  // False when the node is missing, busy (open elsewhere through a SerialDevice) or refuses
  // the line settings; LastError() tells why. DTR/RTS failing with ENOTTY/EINVAL (a
  // pseudo-terminal has no modem lines) does not fail the open.
  bool Open(const std::string& path);
  // Discards unsent output, restores the line settings found at open, clears the exclusive
  // flag and closes.
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  int LastError() const { return lastError_; }

  // Bytes waiting in the input queue; -1 on error (LastError()).
  int Queued();
  // Reads up to `max` bytes without blocking; -1 on error (EAGAIN when nothing was there).
  ssize_t Read(uint8_t* buffer, size_t max);
  // Writes everything, waiting for room with poll for at most `realTimeoutMs` of real time.
  Status WriteAll(const uint8_t* buffer, size_t length, int realTimeoutMs);
  // Discards the input queue (tcflush TCIFLUSH).
  bool PurgeInput();
  // Waits at most `realTimeoutMs` of real time for input. Gone when the other end hung up.
  Status WaitReadable(int realTimeoutMs);
  // True when the other end has hung up (POLLHUP/POLLERR/POLLNVAL), checked without waiting;
  // meaningful when nothing is queued.
  bool HungUp();
  // Raises or drops DTR and RTS; a line without modem control counts as success.
  bool SetModemLines(bool on);

  // Line errors counted by the driver since the previous call, as the bits of the classic
  // communication-error mask (0x0001 receive overflow, 0x0002 overrun, 0x0004 parity,
  // 0x0008 framing, 0x0010 break); 0 when there were none or the line does not count them
  // (a pseudo-terminal).
  unsigned TakeLineErrors();

  // Errors meaning the device went away: the cable was pulled.
  static bool IsGoneError(int err);

 private:
  int fd_ = -1;
  int lastError_ = 0;
  bool countsErrors_ = false;
  int counts_[5] = {};       // buf_overrun, overrun, parity, frame, brk at the previous call
  struct termios found_ {};  // line settings at open, put back by Close
};

}  // namespace tr52
