// A umockdev test bed holding scripted USB serial devices, as the kernel and udev (with the
// project's rule) would show them: a USB device on a hub port, one interface, and its tty.
#pragma once

#include <umockdev.h>

#include <string>
#include <vector>

namespace tr52test {

// One USB serial port to script.
struct UsbSerial {
  std::string hubPort;   // "2", "3.1": the device is 1-<hubPort> on bus 1
  std::string vid, pid;  // "ffff", "fff0"
  std::string product;   // USB product string
  int interface = 0;
  std::string kernelName;  // "ttyACM0" (cdc_acm) or "ttyUSB0" (a USB-serial driver)
  std::string ruleName;    // what the rule sets; empty: the rule does not match
  std::string driver = "cdc_acm";
};

constexpr const char* kPreloadLibrary = "libumockdev-preload.so.0";

// The rule's names for the phone's ports.
constexpr const char* kMobileName = "ZUM Mobile USB Serial Port";
constexpr const char* kCdmaName = "ZUM CDMA USB Serial Port";

// A phone in normal mode in hub port `hubPort`: its DIAG port is interface 1 of a composite
// device, named by the rule.
UsbSerial NormalModePhone(const std::string& hubPort, const std::string& kernelName);

class UsbTestbed {
 public:
  UsbTestbed();
  ~UsbTestbed();
  UsbTestbed(const UsbTestbed&) = delete;
  UsbTestbed& operator=(const UsbTestbed&) = delete;

  // Runs the program (`argv`) again with umockdev's preload library, once; returns when it is
  // already loaded or cannot be (the caller then carries on without it).
  static void ReexecUnderPreload(char** argv);
  // Whether umockdev's preload library is loaded into this process.
  static bool PreloadActive();
  // False (with the reason) when libumockdev's preload is not active in this process.
  static bool Available(std::string& why);

  // Plugs the device in; false with the reason when umockdev refuses the tree.
  bool Plug(const UsbSerial& port, std::string& error);
  // Adds any device tree in umockdev's text form.
  bool AddTree(const std::string& text, std::string& error);
  // Unplugs it (tty, interface and device), announcing the tty's removal to udev monitors.
  void Unplug(const UsbSerial& port);
  // Master side of the pseudo-terminal behind the port's node; -1 when there is none.
  int MasterFd(const UsbSerial& port);

  // The umockdev text of the port's device tree, and its tty's sysfs path.
  static std::string Tree(const UsbSerial& port);
  static std::string TtySysPath(const UsbSerial& port);
  // udev's ID_PATH of the port ("pci-0000:00:14.0-usb-0:2:1.0").
  static std::string IdPath(const UsbSerial& port);

 private:
  UMockdevTestbed* bed_;
};

}  // namespace tr52test
