// The machine's serial ttys as udev describes them: every tty device that hangs on a device
// (virtual consoles and pseudo-terminals are left out), with what the project's udev rule
// (packaging/udev/70-tr52-phones.rules) and the USB descriptors tell about it.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct udev;
struct udev_device;
struct udev_monitor;

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
  // The tty `device` as listed; nullopt for a tty that is not a serial port (a virtual console,
  // a pseudo-terminal, a placeholder UART).
  static std::optional<UdevTty> Of(udev_device* device);

  const std::string& SysPath() const { return f_.sysPath; }        // "/sys/devices/.../ttyACM0"
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
    std::string sysPath, kernelName, devNode, vendorId, productId, product, driver, idPath,
        phoneName, interfaceNumber;
    bool usb = false;
  };
  explicit UdevTty(Fields f) : f_(std::move(f)) {}

  Fields f_;
};

// Every serial tty udev knows, by kernel name. Throws UdevError when libudev fails.
std::vector<UdevTty> ListUdevTtys();

// The ttys udev announces as they come, change and go (after its rules ran, so with the phone
// port names). Listening starts on construction: a listing made afterwards misses nothing.
class UdevTtyMonitor {
 public:
  // Throws UdevError when libudev refuses.
  UdevTtyMonitor();
  ~UdevTtyMonitor();
  UdevTtyMonitor(const UdevTtyMonitor&) = delete;
  UdevTtyMonitor& operator=(const UdevTtyMonitor&) = delete;

  struct Change {
    std::string sysPath;
    std::optional<UdevTty> tty;  // as it is now; nullopt when gone (or not a serial port)
  };
  // Appends the announcements received since the last call, without waiting. False when some
  // were lost (the receive queue overflowed) or receiving failed: the caller must list again.
  [[nodiscard]] bool Drain(std::vector<Change>& changes);
  // Readable when announcements wait (for poll).
  int Fd() const;

 private:
  udev* context_ = nullptr;
  udev_monitor* monitor_ = nullptr;
};

// `idPath` without a trailing USB interface part ":<configuration>.<interface>"; unchanged when
// it has none.
std::string WithoutInterface(const std::string& idPath);

}  // namespace tr52
