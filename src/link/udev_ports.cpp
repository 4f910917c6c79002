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

std::optional<UdevTty> UdevTty::Of(udev_device* tty) {
  udev_device* parent = udev_device_get_parent(tty);
  const char* node = udev_device_get_devnode(tty);
  if (!parent || !node || IsLegacyPlaceholder(parent)) return std::nullopt;

  Fields f;
  f.sysPath = Text(udev_device_get_syspath(tty));
  f.kernelName = Text(udev_device_get_sysname(tty));
  f.devNode = Text(node);
  f.phoneName = Property(tty, kPhoneNameProperty);
  f.idPath = Property(tty, "ID_PATH");
  f.driver = Property(tty, "ID_USB_DRIVER");
  if (f.driver.empty()) f.driver = NearestDriver(tty);
  if (udev_device* usb = Ancestor(tty, "usb", "usb_device")) {
    f.usb = true;
    f.vendorId = Attribute(usb, "idVendor");
    f.productId = Attribute(usb, "idProduct");
    f.product = Attribute(usb, "product");
    if (f.vendorId.empty()) f.vendorId = Property(tty, "ID_VENDOR_ID");
    if (f.productId.empty()) f.productId = Property(tty, "ID_MODEL_ID");
    if (f.product.empty()) f.product = Property(tty, "ID_MODEL");
    f.interfaceNumber = Property(tty, "ID_USB_INTERFACE_NUM");
    if (udev_device* intf = Ancestor(tty, "usb", "usb_interface"); intf && f.interfaceNumber.empty())
      f.interfaceNumber = Attribute(intf, "bInterfaceNumber");
    // Without udev's path (no udev daemon ran), the interface's kernel name says where the
    // port hangs: "1-1.2:1.0" is hub port 1.2 of bus 1, interface 0, taken as "usb-1:1.2:1.0".
    if (f.idPath.empty()) {
      if (udev_device* intf = Ancestor(tty, "usb", "usb_interface")) {
        std::string name = Text(udev_device_get_sysname(intf));
        const size_t dash = name.find('-');
        if (dash != std::string::npos) name[dash] = ':';
        f.idPath = "usb-" + name;
      }
    }
  }
  return UdevTty(std::move(f));
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
    if (auto t = UdevTty::Of(tty.get())) ttys.push_back(std::move(*t));
  }
  std::sort(ttys.begin(), ttys.end(),
            [](const UdevTty& a, const UdevTty& b) { return a.KernelName() < b.KernelName(); });
  return ttys;
}

UdevTtyMonitor::UdevTtyMonitor() : context_(udev_new()) {
  if (!context_) throw UdevError("udev_new failed. (err=" + std::to_string(errno) + ")");
  // udev's own announcements, sent once its rules (the phone port names) have run.
  monitor_ = udev_monitor_new_from_netlink(context_, "udev");
  int rc =
      monitor_ ? udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) : -errno;
  if (rc >= 0) rc = udev_monitor_enable_receiving(monitor_);
  if (rc < 0) {
    if (monitor_) udev_monitor_unref(monitor_);
    udev_unref(context_);
    throw UdevError("udev monitor failed. (err=" + std::to_string(-rc) + ")");
  }
}

UdevTtyMonitor::~UdevTtyMonitor() {
  udev_monitor_unref(monitor_);
  udev_unref(context_);
}

int UdevTtyMonitor::Fd() const {
  return udev_monitor_get_fd(monitor_);
}

bool UdevTtyMonitor::Drain(std::vector<Change>& changes) {
  for (;;) {
    errno = 0;
    DevicePtr device(udev_monitor_receive_device(monitor_));
    if (!device) return errno == 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    Change change;
    change.sysPath = Text(udev_device_get_syspath(device.get()));
    const char* action = udev_device_get_action(device.get());
    if (!action || std::strcmp(action, "remove") != 0) change.tty = UdevTty::Of(device.get());
    changes.push_back(std::move(change));
  }
}

}  // namespace tr52
