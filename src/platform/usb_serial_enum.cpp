#include "platform/usb_serial_enum.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fstream>

#include "platform/port_table.h"

namespace tr52 {
namespace {

// First line of a small sysfs attribute, empty when absent.
std::string ReadAttribute(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (in) std::getline(in, line);
  if (line.size() > 255) line.resize(255);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
    line.pop_back();
  return line;
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// Walks up from the tty's device folder to the USB interface (has "bInterfaceNumber") and the
// USB device (has "idVendor"). Empty strings when the tty does not hang on USB.
struct UsbFacts {
  bool usb = false;
  std::string product;
  std::string interfaceName;
  std::string busPath;  // e.g. 1-1.2
};

UsbFacts FindUsbFacts(const std::string& ttyClassDir) {
  UsbFacts f;
  char resolved[PATH_MAX];
  if (!realpath((ttyClassDir + "/device").c_str(), resolved)) return f;
  std::string dir = resolved;
  for (int depth = 0; depth < 8 && dir.size() > 1; ++depth) {
    if (f.interfaceName.empty() && Exists(dir + "/bInterfaceNumber"))
      f.interfaceName = ReadAttribute(dir + "/interface");
    if (Exists(dir + "/idVendor")) {
      f.usb = true;
      f.product = ReadAttribute(dir + "/product");
      f.busPath = dir.substr(dir.rfind('/') + 1);
      break;
    }
    dir = dir.substr(0, dir.rfind('/'));
  }
  return f;
}

}  // namespace

std::optional<int> ComForKernelName(const std::string& name) {
  int base;
  std::string digits;
  if (name.rfind("ttyACM", 0) == 0) {
    base = 100;
    digits = name.substr(6);
  } else if (name.rfind("ttyUSB", 0) == 0) {
    base = 200;
    digits = name.substr(6);
  } else {
    return std::nullopt;
  }
  if (digits.empty() || digits.size() > 3) return std::nullopt;
  int n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if ((base == 100 && n > 99) || base + n > 255) return std::nullopt;
  return base + n;
}

std::vector<SystemSerialPort> ListUsbSerialPorts(const std::string& sysRoot,
                                                 const std::string& devRoot) {
  std::vector<SystemSerialPort> ports;
  const std::string classDir = sysRoot + "/class/tty";
  DIR* d = opendir(classDir.c_str());
  if (!d) {
    if (errno == ENOENT || errno == ENOTDIR) return ports;
    char msg[512];
    snprintf(msg, sizeof msg, "Could not read %s. (err=%x)", classDir.c_str(), errno);
    throw PortListError(msg);
  }
  while (struct dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    const auto com = ComForKernelName(name);
    if (!com) continue;
    const std::string node = devRoot + "/" + name;
    if (!Exists(node)) continue;
    const UsbFacts usb = FindUsbFacts(classDir + "/" + name);
    SystemSerialPort p;
    p.com = *com;
    p.portName = "COM" + std::to_string(*com);
    p.devicePath = node;
    const std::string base = !usb.product.empty()
                                 ? usb.product
                                 : (!usb.interfaceName.empty() ? usb.interfaceName : name);
    p.friendlyName = base + " (" + p.portName + ")";
    p.location = usb.usb ? "USB " + usb.busPath : "";
    ports.push_back(std::move(p));
  }
  closedir(d);
  std::sort(ports.begin(), ports.end(),
            [](const SystemSerialPort& a, const SystemSerialPort& b) { return a.com < b.com; });
  return ports;
}

namespace {

std::vector<DeclaredPort> DeclaredPorts(std::vector<std::string>* notes) {
  PortTableListing listing = ReadPortTable();
  if (notes) notes->insert(notes->end(), listing.notes.begin(), listing.notes.end());
  return std::move(listing.ports);
}

}  // namespace

std::vector<SystemSerialPort> ListSystemSerialPorts(std::vector<std::string>* notes) {
  std::vector<SystemSerialPort> ports;
  for (auto& d : DeclaredPorts(notes)) {
    SystemSerialPort p;
    p.com = d.com;
    p.portName = "COM" + std::to_string(d.com);
    p.devicePath = std::move(d.devicePath);
    p.friendlyName = std::move(d.friendlyName);
    p.location = "PortTable";
    ports.push_back(std::move(p));
  }
  const size_t declared = ports.size();
  for (auto& u : ListUsbSerialPorts()) {
    const bool taken = std::any_of(ports.begin(), ports.begin() + static_cast<long>(declared),
                                   [&](const SystemSerialPort& p) { return p.com == u.com; });
    if (!taken) ports.push_back(std::move(u));
  }
  std::stable_sort(
      ports.begin(), ports.end(),
      [](const SystemSerialPort& a, const SystemSerialPort& b) { return a.com < b.com; });
  return ports;
}

std::optional<std::string> DevicePathForCom(int com, std::vector<std::string>* notes) {
  for (const auto& d : DeclaredPorts(notes))
    if (d.com == com) return d.devicePath;
  try {
    for (const auto& u : ListUsbSerialPorts())
      if (u.com == com) return u.devicePath;
  } catch (const PortListError&) {
  }
  return std::nullopt;
}

}  // namespace tr52
