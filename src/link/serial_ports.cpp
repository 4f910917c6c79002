#include "link/serial_ports.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "base/process_log.h"
#include "link/com_map.h"
#include "link/port_enum.h"
#include "link/udev_ports.h"
#include "platform/port_table.h"
#include "platform/serial_device.h"

namespace tr52 {
namespace {

// Why a port that could be a phone port cannot be opened now; empty when it can.
std::string OpenProblem(const std::string& path) {
  SerialDevice device;
  if (device.Open(path)) return "";  // closed again by the destructor
  const int err = device.LastError();
  if (err == EBUSY) return "in use";
  if (err == EACCES || err == EPERM) return "no permission to open it";
  return std::string("cannot be opened (") + std::strerror(err) + ")";
}

}  // namespace

std::vector<std::string> PositionKeys(const std::vector<UdevTty>& ttys) {
  std::vector<std::string> keys(ttys.size());
  std::vector<size_t> order(ttys.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  // A device with two ports named by the rule: the lower interface gets the device's key.
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return ttys[a].IdPath() < ttys[b].IdPath(); });
  std::set<std::string> taken;
  for (size_t i : order) {
    const UdevTty& t = ttys[i];
    if (!t.IsUsb() || t.IdPath().empty() || !IsPhonePortName(t.PhoneName())) continue;
    std::string key = t.DevicePosition();
    if (taken.count(key)) key = t.IdPath();
    taken.insert(key);
    keys[i] = key;
  }
  return keys;
}

std::set<int> DeclaredNumbers(const std::vector<DeclaredPort>& declared) {
  std::set<int> numbers;
  for (const DeclaredPort& d : declared) numbers.insert(d.com);
  return numbers;
}

std::vector<ListedPort> BuildPortListing(std::vector<DeclaredPort> declared,
                                         const std::vector<UdevTty>& ttys,
                                         const std::vector<std::optional<int>>& numbers,
                                         bool probeInUse) {
  std::vector<ListedPort> ports;
  const std::set<int> taken = DeclaredNumbers(declared);
  for (DeclaredPort& d : declared) {
    ListedPort::Fields f;
    f.source = ListedPort::Source::PortTable;
    f.name = d.devicePath;
    f.devicePath = std::move(d.devicePath);
    f.com = d.com;
    f.friendlyName = std::move(d.friendlyName);
    f.position = "port table";
    if (!IsPhonePortName(f.friendlyName))
      f.whyNot = "not a phone port name";
    else if (d.com > 255)
      f.whyNot = "COM number above 255";
    else if (probeInUse)
      f.whyNot = OpenProblem(f.devicePath);
    ports.push_back(ListedPort(std::move(f)));
  }

  for (size_t i = 0; i < ttys.size(); ++i) {
    const UdevTty& t = ttys[i];
    ListedPort::Fields f;
    f.source = t.IsUsb() ? ListedPort::Source::Usb : ListedPort::Source::Other;
    f.name = t.KernelName();
    f.devicePath = t.DevNode();
    f.vendorId = t.VendorId();
    f.productId = t.ProductId();
    f.product = t.Product();
    f.position = t.IdPath();
    f.driver = t.Driver();
    f.usbSerial = t.Serial();
    f.com = i < numbers.size() ? numbers[i] : std::nullopt;
    if (f.com) f.friendlyName = t.PhoneName() + " (COM" + std::to_string(*f.com) + ")";
    if (!t.IsUsb())
      f.whyNot = "not USB";
    else if (t.PhoneName().empty())
      f.whyNot = "no rule name";
    else if (!IsPhonePortName(t.PhoneName()))
      f.whyNot = "rule name is not a phone port name";
    else if (t.IdPath().empty())
      f.whyNot = "no USB position";
    else if (!f.com)
      f.whyNot = "no COM number left in the COM map";
    else if (taken.count(*f.com))
      f.whyNot = "COM" + std::to_string(*f.com) + " taken by the port table";
    else if (probeInUse)
      f.whyNot = OpenProblem(f.devicePath);
    ports.push_back(ListedPort(std::move(f)));
  }

  std::stable_sort(ports.begin(), ports.end(), [](const ListedPort& a, const ListedPort& b) {
    if (a.Com().has_value() != b.Com().has_value()) return a.Com().has_value();
    if (a.Com() && *a.Com() != *b.Com()) return *a.Com() < *b.Com();
    if (a.Com())
      return a.From() == ListedPort::Source::PortTable && b.From() != ListedPort::Source::PortTable;
    return a.Name() < b.Name();
  });
  return ports;
}

bool HostSeesPort(const ListedPort& p) {
  const bool declared = p.From() == ListedPort::Source::PortTable;
  if (!p.Com() || *p.Com() > 255 || p.From() == ListedPort::Source::Other) return false;
  if (!declared && !p.IsPhonePort()) return false;
  return IsPhonePortName(p.FriendlyName());
}

std::vector<ListedPort> ListSerialPorts(bool probeInUse, std::vector<std::string>& notes) {
  PortTableListing table = ReadPortTable();
  notes.insert(notes.end(), table.notes.begin(), table.notes.end());
  const std::vector<UdevTty> ttys = ListUdevTtys();
  const std::vector<std::string> keys = PositionKeys(ttys);
  ComMapUpdate update;
  for (const std::string& key : keys)
    if (!key.empty()) update.present.push_back(key);
  update.reserved = DeclaredNumbers(table.ports);
  std::vector<std::optional<int>> keyed;
  if (!update.present.empty()) keyed = AssignComNumbers(ComMapDir(), update, notes);
  std::vector<std::optional<int>> numbers(ttys.size());
  for (size_t i = 0, next = 0; i < ttys.size(); ++i)
    if (!keys[i].empty()) numbers[i] = keyed[next++];
  return BuildPortListing(std::move(table.ports), ttys, numbers, probeInUse);
}

std::optional<std::string> DevicePathOfCom(int com) {
  for (const DeclaredPort& d : ReadPortTable().ports)
    if (d.com == com) return d.devicePath;
  // Only USB ports numbered by the COM map remain; no need to walk udev for other numbers.
  if (com < kFirstMappedCom || com > kLastMappedCom) return std::nullopt;
  std::vector<std::string> notes;
  std::vector<ListedPort> ports;
  try {
    ports = ListSerialPorts(false, notes);
  } catch (const UdevError& e) {
    Log("COM%d: serial port list failed: %s", com, e.what());
    return std::nullopt;
  }
  LogLastingNotes(notes, "COM map");
  for (const ListedPort& p : ports)
    if (p.From() == ListedPort::Source::Usb && p.Com() == com) return p.DevicePath();
  return std::nullopt;
}

}  // namespace tr52
