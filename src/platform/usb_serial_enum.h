// The serial ports of the machine: ports declared in the port table and USB serial devices
// found in sysfs, each with a COM number and a friendly name.
//
// USB serial devices get fixed COM numbers from their kernel names: ttyACM<n> is COM(100+n) (n <=
// 99), ttyUSB<n> is COM(200+n) (n <= 55), so declared ports, usually numbered low, never collide
// with them by accident. Their friendly name is the USB product string (else the interface
// string, else the kernel name) followed by " (COM<n>)". A declared port wins over a USB port
// of the same number.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tr52 {

struct SystemSerialPort {
  int com = 0;
  std::string portName;      // "COM<n>"
  std::string devicePath;    // node to open, e.g. /dev/ttyACM0 or /dev/pts/3
  std::string friendlyName;  // as the system shows it
  std::string location;      // "USB ..." for USB devices, "PortTable" for declared ports
};

// An OS call failed while listing (a folder that exists but cannot be read).
class PortListError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// COM number of a kernel tty name (ttyACM3 → 103, ttyUSB0 → 200); nullopt for other names.
std::optional<int> ComForKernelName(const std::string& ttyName);

// USB serial devices under `sysRoot`/class/tty (ttyUSB*, ttyACM*) whose node exists under
// `devRoot`. A missing class folder yields an empty list; throws PortListError when it exists
// but cannot be read.
std::vector<SystemSerialPort> ListUsbSerialPorts(const std::string& sysRoot = "/sys",
                                                 const std::string& devRoot = "/dev");

// Present declared ports, then USB ports whose number no declared port uses, by COM number.
// `notes` (when given) receives what the port table refused or skipped, for the caller's log.
std::vector<SystemSerialPort> ListSystemSerialPorts(std::vector<std::string>* notes = nullptr);

// Device node of COM `com`, nullopt when no such port is present; `notes` as above.
std::optional<std::string> DevicePathForCom(int com, std::vector<std::string>* notes = nullptr);

}  // namespace tr52
