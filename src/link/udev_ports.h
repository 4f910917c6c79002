// The machine's serial ttys as udev describes them: every tty device that hangs on a device
// (virtual consoles and pseudo-terminals are left out), with what the project's udev rule
// (packaging/udev/70-tr52-phones.rules) and the USB descriptors tell about it.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace tr52 {

// The udev property the rule sets to the port's phone name ("ZUM Mobile USB Serial Port").
constexpr const char* kPhoneNameProperty = "ID_TR52_PORT_NAME";

// A libudev call failed: the list could not be made.
class UdevError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class UdevTty {
 public:
  const std::string& KernelName() const { return f_.kernelName; }  // "ttyACM0"
  const std::string& DevNode() const { return f_.devNode; }        // "/dev/ttyACM0"
  bool IsUsb() const { return f_.usb; }
  const std::string& VendorId() const { return f_.vendorId; }    // "1004", empty off USB
  const std::string& ProductId() const { return f_.productId; }  // "6000", empty off USB
  const std::string& Product() const { return f_.product; }      // USB product string
  const std::string& Driver() const { return f_.driver; }        // "cdc_acm", "option" ...
  // The USB interface the port belongs to ("01"), empty off USB or when unknown.
  const std::string& InterfaceNumber() const { return f_.interfaceNumber; }
  // The physical position: udev's ID_PATH, else one made from the USB interface's name.
  const std::string& IdPath() const { return f_.idPath; }
  const std::string& PhoneName() const { return f_.phoneName; }  // the rule's name, or empty

  // The USB device's position: IdPath() without the interface part (":1.0"), shared by every
  // mode of a phone plugged into one hub port.
  std::string DevicePosition() const;

 private:
  struct Fields {
    std::string kernelName, devNode, vendorId, productId, product, driver, idPath, phoneName,
        interfaceNumber;
    bool usb = false;
  };
  explicit UdevTty(Fields f) : f_(std::move(f)) {}
  friend std::vector<UdevTty> ListUdevTtys();

  Fields f_;
};

// Every serial tty udev knows, by kernel name. Throws UdevError when libudev fails.
std::vector<UdevTty> ListUdevTtys();

// `idPath` without a trailing USB interface part ":<configuration>.<interface>"; unchanged when
// it has none.
std::string WithoutInterface(const std::string& idPath);

}  // namespace tr52
