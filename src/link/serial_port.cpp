#include "link/serial_port.h"

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "base/process_log.h"
#include "link/serial_ports.h"
#include "platform/clock.h"
#include "platform/serial_device.h"

namespace tr52 {
namespace {

// A wait of `ms` process-clock milliseconds in real milliseconds (at least 1 when ms > 0).
int RealMs(int ms) {
  if (ms <= 0) return 0;
  const double real = ms / GetClock().Speed();
  return std::max(1, static_cast<int>(std::ceil(real)));
}

}  // namespace

SerialPort::SerialPort() : device_(std::make_unique<SerialDevice>()) {}

SerialPort::~SerialPort() = default;

bool SerialPort::Open(uint8_t portNumber) {
  if (open_) return true;
  portNumber_ = portNumber;
  const auto path = DevicePathOfCom(portNumber);
  return path && OpenDevice(*path);
}

bool SerialPort::OpenDevice(const std::string& path) {
  if (open_) return true;
  if (!device_->Open(path)) return false;
  devicePath_ = path;
  open_ = 1;
  SetDtr(true);
  // Bytes left from before the open are dropped; a purge that fails leaves them for the first
  // wait, which discards what is not a frame.
  static_cast<void>(Purge());
  return true;
}

int SerialPort::LastError() const {
  return device_->LastError();
}

bool SerialPort::Close() {
  if (!open_) return false;
  open_ = 0;
  SetDtr(false);
  device_->PurgeInput();
  device_->Close();
  devicePath_.clear();
  return true;
}

int SerialPort::SetDtr(bool on) {
  device_->SetModemLines(on);
  return 0;
}

bool SerialPort::Purge() {
  if (!open_) return false;  // nothing to discard, and not a failure worth a log line
  if (device_->PurgeInput()) return true;
  Log("retry Clear - PurgeComm Failed");
  return device_->PurgeInput();
}

bool SerialPort::Write(const uint8_t* buffer, size_t length) {
  if (!open_) return false;
  switch (device_->WriteAll(buffer, length, RealMs(kWriteTimeoutMs))) {
    case SerialDevice::Status::Ok:
      return true;
    case SerialDevice::Status::Gone:
      Close();  // the cable is taken as pulled
      return false;
    default:
      return false;
  }
}

void SerialPort::CableLost(const char* line, uint64_t pauseMs, bool pauseFirst) {
  Log("%s", line);
  if (pauseFirst) SleepMs(pauseMs);
  Close();
  if (!pauseFirst) SleepMs(pauseMs);
}

namespace {

const char* LineErrorName(unsigned bits) {
  switch (bits) {
    case 0x0001:
      return "CE_RXOVER";
    case 0x0002:
      return "CE_OVERRUN";
    case 0x0004:
      return "CE_RXPARITY";
    case 0x0008:
      return "CE_FRAME";
    case 0x0010:
      return "CE_BREAK";
    default:
      return nullptr;  // several at once: no single name
  }
}

}  // namespace

size_t SerialPort::Read(uint8_t* buffer, size_t maxBytes) {
  if (!open_) return 0;
  if (const unsigned errors = device_->TakeLineErrors()) {
    // Bytes of a poll with line errors are not taken; the next poll reads on.
    if (const char* name = LineErrorName(errors)) Log("%s", name);
    return 0;
  }
  const int queued = device_->Queued();
  if (queued < 0 || (queued == 0 && device_->HungUp())) {
    // The line reports an error state instead of a count: a vanished device means the cable.
    const int err = queued < 0 ? device_->LastError() : EIO;
    if (SerialDevice::IsGoneError(err))
      CableLost("@@ Cable Disconnected - Reading Error", 1000, /*pauseFirst=*/false);
    return 0;
  }
  const size_t n = std::min(maxBytes, static_cast<size_t>(queued));
  if (n == 0) return 0;
  const ssize_t got = device_->Read(buffer, n);
  if (got > 0) return static_cast<size_t>(got);
  if (got < 0 && SerialDevice::IsGoneError(device_->LastError()))
    CableLost("@@ Cable Disconnected - Reading", 2000, /*pauseFirst=*/true);
  return 0;
}

bool SerialPort::WaitReadable(int ms) {
  if (!open_) return false;
  return device_->WaitReadable(RealMs(ms)) != SerialDevice::Status::Timeout;
}

}  // namespace tr52
