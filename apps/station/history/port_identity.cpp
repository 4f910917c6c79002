#include "port_identity.h"

#include "link/serial_ports.h"
#include "link/udev_ports.h"

namespace history {

PortIdentity IdentifyPort(int com) {
  PortIdentity identity;
  std::vector<std::string> notes;  // the plug-in logs the listing's notes; not ours to repeat
  try {
    for (const tr52::ListedPort& port : tr52::ListSerialPorts(false, notes)) {
      if (port.Com() != com) continue;
      // A declared port wins its number over a USB port (the listing puts it first).
      if (port.From() != tr52::ListedPort::Source::Usb) break;
      if (!port.Position().empty()) identity.usbPosition = tr52::WithoutInterface(port.Position());
      if (!port.UsbSerial().empty()) identity.usbSerial = port.UsbSerial();
      break;
    }
  } catch (const tr52::UdevError&) {
    // No identity: the row says only the COM number.
  }
  return identity;
}

}  // namespace history
