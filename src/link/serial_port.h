// The plug-in's only access to a phone: one serial port, opened by COM number.
//
// On Linux the COM number is looked up in the port table / USB serial enumeration
// (platform/port_enum.h) to find the tty device. The line runs raw at 115200 8N1 with no flow
// control and DTR/RTS raised. A device that disappears (the cable is pulled) closes the port.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tr52 {

class ProgressReporter;

class SerialPort {
 public:
  SerialPort();
  // Does not close the port: the owner calls Close first.
  virtual ~SerialPort();

  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens COM `portNumber`; true at once (number unchanged) when already open.
  bool Open(uint8_t portNumber);
  // False when the port was not open.
  bool Close();
  bool IsOpen() const { return open_ != 0; }

  uint8_t PortNumber() const { return portNumber_; }
  void SetPortNumber(uint8_t n) { portNumber_ = n; }

  // Writes the whole buffer (bounded by the 10 s write time-out).
  bool Write(const uint8_t* buffer, size_t length);
  // Reads at most min(maxBytes, queued bytes); 0 when nothing is queued.
  size_t Read(uint8_t* buffer, size_t maxBytes);
  // Discards what was received and not read yet.
  bool Purge();
  // Waits until bytes are queued or `ms` milliseconds of the process clock have passed; true
  // when bytes are waiting. Lets receive loops react at once instead of sleeping blindly.
  bool WaitReadable(int ms);

  void SetProgressReporter(ProgressReporter* reporter) { reporter_ = reporter; }
  ProgressReporter* Reporter() const { return reporter_; }

 protected:
  int fd_ = -1;
  uint8_t portNumber_ = 0;
  int open_ = 0;
  ProgressReporter* reporter_ = nullptr;
};

}  // namespace tr52
