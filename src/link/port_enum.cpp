#include "link/port_enum.h"

#include <cstdio>

#include "base/process_log.h"
#include "link/serial_ports.h"
#include "link/udev_ports.h"
#include "platform/serial_device.h"

namespace tr52 {

const char* const kPhonePortNames[2] = {"ZUM CDMA USB Serial Port", "ZUM Mobile USB Serial Port"};

bool IsPhonePortName(std::string_view friendly) {
  for (const char* prefix : kPhonePortNames)
    if (friendly.rfind(prefix, 0) == 0) return true;
  return false;
}

namespace {

// "COM%d" with the number in 0..255; false for anything else.
bool ParseComNumber(const std::string& portName, uint8_t& out) {
  if (portName.size() < 4 || portName.size() > 6 || portName.compare(0, 3, "COM") != 0)
    return false;
  int n = 0;
  for (size_t i = 3; i < portName.size(); ++i) {
    const char c = portName[i];
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n > 255) return false;
  out = static_cast<uint8_t>(n);
  return true;
}

bool CanOpen(const std::string& path) {
  SerialDevice device;
  return device.Open(path);  // closed again by the destructor
}

}  // namespace

void FilterPhonePorts(std::vector<SerialPortInfo>& list, bool checkOpen) {
  std::vector<SerialPortInfo> kept;
  for (auto& p : list) {
    if (!IsPhonePortName(p.friendlyName)) continue;
    if (!ParseComNumber(p.portName, p.portNumber)) continue;
    if (checkOpen && !CanOpen(p.devicePath)) continue;
    if (p.friendlyName.empty()) p.friendlyName = p.portName;
    if (p.portDescription.empty()) {
      p.portDescription = p.friendlyName;
      const size_t cut = p.portDescription.find(" #");
      if (cut != std::string::npos && cut > 0) p.portDescription.resize(cut);
    }
    kept.push_back(std::move(p));
  }
  list = std::move(kept);
}

void EnumPhonePorts(std::vector<SerialPortInfo>& list, bool checkOpen) {
  list.clear();
  std::vector<ListedPort> ports;
  std::vector<std::string> notes;
  try {
    ports = ListSerialPorts(false, notes);
  } catch (const UdevError& e) {
    LogLastingNotes(notes);
    throw PortEnumError(e.what());
  }
  LogLastingNotes(notes);
  for (const ListedPort& p : ports) {
    if (!HostSeesPort(p)) continue;
    SerialPortInfo info;
    info.devicePath = p.DevicePath();
    info.portName = "COM" + std::to_string(*p.Com());
    info.friendlyName = p.FriendlyName();
    info.usbDevice = p.From() != ListedPort::Source::PortTable;
    list.push_back(std::move(info));
  }
  FilterPhonePorts(list, checkOpen);
}

}  // namespace tr52
