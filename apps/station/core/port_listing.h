// `station --list-ports`: every serial port the station can see, one line each, with what a
// technician needs to write the udev rule for a phone and to see why a port is not a phone
// port.
#pragma once

#include <string>
#include <vector>

#include "link/serial_ports.h"

namespace station {

// A header line, then one line per port, columns aligned:
//   PORT COM VENDOR:PRODUCT PRODUCT POSITION DRIVER PHONE
// "PHONE" is "yes" or "no (<why not>)"; an unknown field is "-". Values with control characters
// or blanks at the ends are shown cleaned, so one port stays one line.
std::string PortListingText(const std::vector<tr52::ListedPort>& ports);

// Lists the ports (test-opening the phone ports) on standard output, problems met on the way
// on standard error. Returns the exit status: 0 listed, 1 the list could not be made.
int ListPorts();

}  // namespace station
