#include "usb_testbed.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace tr52test {
namespace {

constexpr const char* kReexecMark = "TR52_UMOCKDEV_REEXEC";
constexpr const char* kBus = "/devices/pci0000:00/0000:00:14.0/usb1";

std::string DevicePath(const UsbSerial& p) {
  return std::string(kBus) + "/1-" + p.hubPort;
}

std::string InterfacePath(const UsbSerial& p) {
  return DevicePath(p) + "/1-" + p.hubPort + ":1." + std::to_string(p.interface);
}

bool IsAcm(const UsbSerial& p) {
  return p.kernelName.rfind("ttyACM", 0) == 0;
}

// An attribute line: as text, or as hex bytes ("H:") when the value holds bytes above 0x7F,
// which a text line cannot carry.
std::string Attribute(const std::string& name, const std::string& value) {
  bool binary = false;
  for (const char c : value) binary = binary || static_cast<unsigned char>(c) >= 0x80;
  if (!binary) return "A: " + name + "=" + value + "\n";
  std::string hex;
  for (const char c : value) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(c));
    hex += two;
  }
  return "H: " + name + "=" + hex + "\n";
}

}  // namespace

UsbSerial NormalModePhone(const std::string& hubPort, const std::string& kernelName) {
  return {hubPort, "ffff", "fff0", "Phone Composite", 1, kernelName, kMobileName, "cdc_acm"};
}

UsbTestbed::UsbTestbed() : bed_(umockdev_testbed_new()) {}

UsbTestbed::~UsbTestbed() {
  if (bed_) g_object_unref(bed_);
}

void UsbTestbed::ReexecUnderPreload(char** argv) {
  if (PreloadActive() || std::getenv(kReexecMark)) return;
  setenv(kReexecMark, "1", 1);
  const char* oldPreload = std::getenv("LD_PRELOAD");
  const std::string previous = oldPreload ? oldPreload : "";
  std::string preload = kPreloadLibrary;
  if (!previous.empty()) preload += ":" + previous;
  setenv("LD_PRELOAD", preload.c_str(), 1);
  // A sanitizer runtime would otherwise refuse to start behind the preload library.
  std::string asan = "verify_asan_link_order=0";
  if (const char* old = std::getenv("ASAN_OPTIONS"); old && *old)
    asan = std::string(old) + ":" + asan;
  setenv("ASAN_OPTIONS", asan.c_str(), 1);
  execv("/proc/self/exe", argv);
  // exec failed: carry on as before.
  oldPreload ? setenv("LD_PRELOAD", previous.c_str(), 1) : unsetenv("LD_PRELOAD");
}

bool UsbTestbed::PreloadActive() {
  void* lib = dlopen(kPreloadLibrary, RTLD_LAZY | RTLD_NOLOAD);
  if (lib) dlclose(lib);
  return lib != nullptr;
}

bool UsbTestbed::Available(std::string& why) {
  if (PreloadActive()) return true;
  why =
      "umockdev's preload library (libumockdev-preload.so.0) is not active in this process, so "
      "no scripted /sys and /dev can be shown to libudev";
  return false;
}

std::string UsbTestbed::IdPath(const UsbSerial& p) {
  return "pci-0000:00:14.0-usb-0:" + p.hubPort + ":1." + std::to_string(p.interface);
}

std::string UsbTestbed::TtySysPath(const UsbSerial& p) {
  return "/sys" + InterfacePath(p) + (IsAcm(p) ? "" : "/" + p.kernelName) + "/tty/" + p.kernelName;
}

std::string UsbTestbed::Tree(const UsbSerial& p) {
  std::string t;
  t += "P: " + DevicePath(p) + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n";
  t += "A: idVendor=" + p.vid + "\nA: idProduct=" + p.pid + "\n" + Attribute("product", p.product) +
       "\n";
  t += "P: " + InterfacePath(p) + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n";
  t += "A: bInterfaceNumber=0" + std::to_string(p.interface) + "\n\n";
  if (!IsAcm(p))
    t += "P: " + InterfacePath(p) + "/" + p.kernelName + "\nE: SUBSYSTEM=usb-serial\n\n";
  const std::string number = p.kernelName.substr(6);
  t += "P: " + TtySysPath(p).substr(4) + "\nN: " + p.kernelName + "\nE: SUBSYSTEM=tty\n";
  t += "E: DEVNAME=/dev/" + p.kernelName + "\nE: ID_PATH=" + IdPath(p) + "\n";
  t += "E: ID_USB_DRIVER=" + p.driver + "\n";
  if (!p.ruleName.empty()) t += "E: ID_TR52_PORT_NAME=" + p.ruleName + "\n";
  t += "A: dev=" + std::string(IsAcm(p) ? "166:" : "188:") + number + "\n";
  return t;
}

bool UsbTestbed::Plug(const UsbSerial& port, std::string& error) {
  return AddTree(Tree(port), error);
}

bool UsbTestbed::AddTree(const std::string& text, std::string& error) {
  GError* err = nullptr;
  const bool ok = umockdev_testbed_add_from_string(bed_, text.c_str(), &err);
  if (!ok) error = err ? err->message : "umockdev refused the device tree";
  if (err) g_error_free(err);
  return ok;
}

void UsbTestbed::Unplug(const UsbSerial& port) {
  // As the kernel and udev announce it (umockdev announces additions by itself, not removals).
  umockdev_testbed_uevent(bed_, TtySysPath(port).c_str(), "remove");
  umockdev_testbed_remove_device(bed_, TtySysPath(port).c_str());
  if (!IsAcm(port))
    umockdev_testbed_remove_device(bed_,
                                   ("/sys" + InterfacePath(port) + "/" + port.kernelName).c_str());
  umockdev_testbed_remove_device(bed_, ("/sys" + InterfacePath(port)).c_str());
  umockdev_testbed_remove_device(bed_, ("/sys" + DevicePath(port)).c_str());
}

int UsbTestbed::MasterFd(const UsbSerial& port) {
  return umockdev_testbed_get_dev_fd(bed_, ("/dev/" + port.kernelName).c_str());
}

}  // namespace tr52test
