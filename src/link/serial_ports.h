// Every serial port the link can open, with its COM number: the ports declared in the port
// table (platform/port_table.h) and the serial ttys udev knows (udev_ports.h), USB ones numbered
// through the COM map (com_map.h).
//
// Only phone ports get numbers: a USB port named by the project's udev rule with a phone port
// name gets the friendly name "<rule name> (COM<n>)" and its number from the USB device's
// position, so every mode of a phone in one hub port shares one number. Other serial ports are
// listed without a number, saying why they are no phone port. A declared port wins its number
// over a USB port.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "link/udev_ports.h"
#include "platform/port_table.h"

namespace tr52 {

class ListedPort {
 public:
  enum class Source { PortTable, Usb, Other };

  Source From() const { return f_.source; }
  // Kernel name for ttys ("ttyACM0"), the device path for declared ports.
  const std::string& Name() const { return f_.name; }
  const std::string& DevicePath() const { return f_.devicePath; }
  std::optional<int> Com() const { return f_.com; }
  const std::string& FriendlyName() const { return f_.friendlyName; }  // empty without a number
  const std::string& VendorId() const { return f_.vendorId; }
  const std::string& ProductId() const { return f_.productId; }
  const std::string& Product() const { return f_.product; }
  const std::string& Position() const { return f_.position; }
  const std::string& Driver() const { return f_.driver; }
  const std::string& UsbSerial() const { return f_.usbSerial; }  // empty when none is reported
  // A phone port: numbered, named by the rule (or declared) with a phone port name, and not
  // shadowed. WhyNot() says what is missing ("no rule name", "not USB", "in use", ...).
  bool IsPhonePort() const { return f_.whyNot.empty(); }
  const std::string& WhyNot() const { return f_.whyNot; }

 private:
  struct Fields {
    Source source = Source::Other;
    std::string name, devicePath, friendlyName, vendorId, productId, product, position, driver,
        whyNot, usbSerial;
    std::optional<int> com;
  };
  explicit ListedPort(Fields f) : f_(std::move(f)) {}
  friend std::vector<ListedPort> BuildPortListing(std::vector<DeclaredPort>,
                                                  const std::vector<UdevTty>&,
                                                  const std::vector<std::optional<int>>&, bool);

  Fields f_;
};

// The ports by COM number (unnumbered ones last, by name). With `probeInUse` each phone port is
// opened and closed once, and one that cannot be opened says why ("in use", "no permission").
// `notes` receives log lines (port table refusals, COM map repairs). Throws UdevError (from
// udev_ports.h) when libudev fails.
std::vector<ListedPort> ListSerialPorts(bool probeInUse, std::vector<std::string>& notes);

// The parts of a listing, for a caller that keeps what it read (PortView) and must list the
// ports exactly as ListSerialPorts does.
//
// The key each tty is numbered by in the COM map: a USB port named by the rule with a phone port
// name by its USB device's position (a second such port of one device by its full position);
// empty for every other tty.
std::vector<std::string> PositionKeys(const std::vector<UdevTty>& ttys);
// The numbers the port table takes: those of the declared ports whose node exists.
std::set<int> DeclaredNumbers(const std::vector<DeclaredPort>& declared);
// The listing of the declared ports whose device node exists and of `ttys`, numbered by
// `numbers` (one per tty, nullopt without one), in the order ListSerialPorts gives. Opens
// nothing unless `probeInUse`.
std::vector<ListedPort> BuildPortListing(std::vector<DeclaredPort> declared,
                                         const std::vector<UdevTty>& ttys,
                                         const std::vector<std::optional<int>>& numbers,
                                         bool probeInUse);
// Whether the host sees this port as a phone port (EnumPhonePorts lists it): declared, or a USB
// phone port; with a phone port name and a number 0..255.
bool HostSeesPort(const ListedPort& port);

// Device node of COM `com` (a declared port first, else a USB port of that number); nullopt when
// no such port is present. Problems go to the process log.
std::optional<std::string> DevicePathOfCom(int com);

}  // namespace tr52
