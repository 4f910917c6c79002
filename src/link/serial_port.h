// The plug-in's only access to a phone: one serial port, opened by COM number.
//
// On Linux the COM number is looked up in the port table and the USB serial devices numbered by
// the COM map (link/serial_ports.h) to find the tty device. The line runs raw at 115200 8N1 with no
// flow control and DTR/RTS raised. A device that disappears (the cable is pulled) closes the
// port, with the log lines "@@ Cable Disconnected - Reading" / "... - Reading Error".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tr52 {

class SerialDevice;

class SerialPort {
 public:
  static constexpr int kWriteTimeoutMs = 10000;

  SerialPort();
  // Does not close the port: the owner calls Close first (the device is released regardless).
  ~SerialPort();

  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens COM `portNumber`; true at once (number unchanged) when already open.
  [[nodiscard]] bool Open(uint8_t portNumber);
  // Opens the device node `path` itself, for a port that has no COM number (yet); the port
  // number stays as it is. True at once when already open.
  [[nodiscard]] bool OpenDevice(const std::string& path);
  // The errno of the device's last failed call (why an open failed: EBUSY, EACCES ...).
  int LastError() const;
  // False when the port was not open.
  bool Close();
  bool IsOpen() const { return open_ != 0; }

  uint8_t PortNumber() const { return portNumber_; }
  void SetPortNumber(uint8_t n) { portNumber_ = n; }
  // Device node of the open port (empty when closed).
  const std::string& DevicePath() const { return devicePath_; }

  // Writes the whole buffer (bounded by the 10 s write time-out of the process clock).
  [[nodiscard]] bool Write(const uint8_t* buffer, size_t length);
  // Reads at most min(maxBytes, queued bytes); 0 when nothing is queued.
  size_t Read(uint8_t* buffer, size_t maxBytes);
  // Discards what was received and not read yet (retried once on failure).
  [[nodiscard]] bool Purge();
  // Raises (true) or drops DTR and RTS: 0 (no handshake control on this line).
  int SetDtr(bool on);
  // Waits until bytes are queued or `ms` milliseconds of the process clock have passed; true
  // when bytes are waiting (or the line hung up, which the next Read reports). Lets receive
  // loops react at once instead of sleeping blindly.
  bool WaitReadable(int ms);

 private:
  // Closes after a cable loss seen on a read; `line` is logged first.
  void CableLost(const char* line, uint64_t pauseMs, bool pauseFirst);

  std::unique_ptr<SerialDevice> device_;
  std::string devicePath_;
  uint8_t portNumber_ = 0;
  int open_ = 0;
};

}  // namespace tr52
