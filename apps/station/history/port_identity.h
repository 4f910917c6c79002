// Which phone is on a COM port, as far as USB tells: the hub port it is plugged into and its
// USB serial number. A port declared in the port table (a virtual phone) has neither.
#pragma once

#include <optional>
#include <string>

namespace history {

struct PortIdentity {
  std::optional<std::string> usbPosition;  // udev's path of the USB device, interface left out
  std::optional<std::string> usbSerial;
};

// The identity of the USB phone port numbered `com` now; empty when there is none (or udev
// cannot be asked). Walks udev: not for a thread that must answer at once.
PortIdentity IdentifyPort(int com);

}  // namespace history
