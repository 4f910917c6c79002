// Discovery of the phone's serial ports: every serial port of the machine (port table and USB
// serial devices) whose friendly name marks it as a phone port, with its COM number.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tr52 {

struct SerialPortInfo {
  std::string devicePath;       // the node to open
  std::string portName;         // "COM5"
  std::string friendlyName;     // as the system shows it
  bool usbDevice = false;       // the location information begins with "USB"
  std::string portDescription;  // the friendly name up to the first " #"
  uint8_t portNumber = 0;       // from the port name, "COM%d"
};

// Raised when an OS call fails while listing; the list is then incomplete.
class PortEnumError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Friendly-name prefixes of the phone's ports, tested in this order.
extern const char* const kPhonePortNames[2];
// Whether a friendly name begins with one of them.
bool IsPhonePortName(std::string_view friendly);

// Empties `list` and fills it with the phone ports, in the order the system lists them. With
// `checkOpen` each port is also opened and closed once, and one that cannot be opened is
// dropped. Throws PortEnumError when an OS call fails.
void EnumPhonePorts(std::vector<SerialPortInfo>& list, bool checkOpen);

// The filter of EnumPhonePorts over an already collected list (kept for tests and callers
// that collect themselves): drops non-phone names and ports outside 0..255, fills the
// description.
void FilterPhonePorts(std::vector<SerialPortInfo>& list, bool checkOpen);

}  // namespace tr52
