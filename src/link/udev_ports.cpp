#include "link/udev_ports.h"

#include <libudev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace tr52 {
namespace {

struct UdevUnref {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
};
using UdevPtr = std::unique_ptr<udev, UdevUnref>;
using EnumeratePtr = std::unique_ptr<udev_enumerate, UdevUnref>;
using DevicePtr = std::unique_ptr<udev_device, UdevUnref>;

// Values are cut to what the listing and the friendly name hold.
constexpr size_t kMaxValue = 255;

std::string Text(const char* value) {
  if (!value) return "";
  std::string s(value, strnlen(value, kMaxValue));
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

std::string Property(udev_device* d, const char* key) {
  return Text(udev_device_get_property_value(d, key));
}

std::string Attribute(udev_device* d, const char* key) {
  return Text(udev_device_get_sysattr_value(d, key));
}

// The tty's nearest ancestor with `subsystem`/`devtype` (parents belong to the child).
udev_device* Ancestor(udev_device* d, const char* subsystem, const char* devtype) {
  return udev_device_get_parent_with_subsystem_devtype(d, subsystem, devtype);
}

// The driver of the nearest ancestor that has one ("cdc_acm", "option", "ftdi_sio").
std::string NearestDriver(udev_device* d) {
  for (udev_device* p = udev_device_get_parent(d); p; p = udev_device_get_parent(p))
    if (const char* driver = udev_device_get_driver(p)) return Text(driver);
  return "";
}

// Placeholder 8250 UARTs the kernel creates whether or not the hardware exists.
bool IsLegacyPlaceholder(udev_device* parent) {
  const char* name = udev_device_get_sysname(parent);
  return name && std::strcmp(name, "serial8250") == 0;
}

}  // namespace

std::string WithoutInterface(const std::string& idPath) {
  // A USB path reads "...usb-<bus>:<ports>[:<configuration>.<interface>]"; the interface part is
  // there only when a second colon follows the last "usb-".
  const size_t usb = idPath.rfind("usb-");
  if (usb == std::string::npos) return idPath;
  const size_t portColon = idPath.find(':', usb + 4);
  const size_t colon = idPath.rfind(':');
  if (portColon == std::string::npos || colon <= portColon) return idPath;
  const std::string tail = idPath.substr(colon + 1);
  const size_t dot = tail.find('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == tail.size()) return idPath;
  for (size_t i = 0; i < tail.size(); ++i)
    if (i != dot && (tail[i] < '0' || tail[i] > '9')) return idPath;
  return idPath.substr(0, colon);
}

std::string UdevTty::DevicePosition() const {
  return WithoutInterface(f_.idPath);
}

std::vector<UdevTty> ListUdevTtys() {
  UdevPtr context(udev_new());
  if (!context) throw UdevError("udev_new failed. (err=" + std::to_string(errno) + ")");
  EnumeratePtr scan(udev_enumerate_new(context.get()));
  if (!scan) throw UdevError("udev_enumerate_new failed. (err=" + std::to_string(errno) + ")");
  int rc = udev_enumerate_add_match_subsystem(scan.get(), "tty");
  if (rc >= 0) rc = udev_enumerate_scan_devices(scan.get());
  if (rc < 0)
    throw UdevError("udev_enumerate_scan_devices failed. (err=" + std::to_string(-rc) + ")");

  std::vector<UdevTty> ttys;
  udev_list_entry* entry;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get())) {
    DevicePtr tty(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
    if (!tty) continue;  // gone since the scan
    udev_device* parent = udev_device_get_parent(tty.get());
    const char* node = udev_device_get_devnode(tty.get());
    if (!parent || !node || IsLegacyPlaceholder(parent)) continue;

    UdevTty::Fields f;
    f.kernelName = Text(udev_device_get_sysname(tty.get()));
    f.devNode = Text(node);
    f.phoneName = Property(tty.get(), kPhoneNameProperty);
    f.idPath = Property(tty.get(), "ID_PATH");
    f.driver = Property(tty.get(), "ID_USB_DRIVER");
    if (f.driver.empty()) f.driver = NearestDriver(tty.get());
    if (udev_device* usb = Ancestor(tty.get(), "usb", "usb_device")) {
      f.usb = true;
      f.vendorId = Attribute(usb, "idVendor");
      f.productId = Attribute(usb, "idProduct");
      f.product = Attribute(usb, "product");
      if (f.vendorId.empty()) f.vendorId = Property(tty.get(), "ID_VENDOR_ID");
      if (f.productId.empty()) f.productId = Property(tty.get(), "ID_MODEL_ID");
      if (f.product.empty()) f.product = Property(tty.get(), "ID_MODEL");
      f.interfaceNumber = Property(tty.get(), "ID_USB_INTERFACE_NUM");
      if (udev_device* intf = Ancestor(tty.get(), "usb", "usb_interface");
          intf && f.interfaceNumber.empty())
        f.interfaceNumber = Attribute(intf, "bInterfaceNumber");
      // Without udev's path (no udev daemon ran), the interface's kernel name says where the
      // port hangs: "1-1.2:1.0" is hub port 1.2 of bus 1, interface 0, taken as "usb-1:1.2:1.0".
      if (f.idPath.empty()) {
        if (udev_device* intf = Ancestor(tty.get(), "usb", "usb_interface")) {
          std::string name = Text(udev_device_get_sysname(intf));
          const size_t dash = name.find('-');
          if (dash != std::string::npos) name[dash] = ':';
          f.idPath = "usb-" + name;
        }
      }
    }
    ttys.push_back(UdevTty(std::move(f)));
  }
  std::sort(ttys.begin(), ttys.end(),
            [](const UdevTty& a, const UdevTty& b) { return a.KernelName() < b.KernelName(); });
  return ttys;
}

}  // namespace tr52
