// `station --list-ports` over scripted devices: one aligned line per serial port, saying why a
// port is not a phone port, with the devices' own strings escaped.
#include "core/port_listing.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/port_table.h"
#include "platform/serial_device.h"
#include "udev_test_base.h"

namespace tr52test {
namespace {

using PortListing = UdevTest;

TEST_F(PortListing, OneLinePerPortWithWhyItIsNoPhonePort) {
  std::string why;
  const std::vector<UsbSerial> plugged = {
      {"2", "ffff", "fff0", "Phone Composite", 1, "ttyACM0", kMobileName},
      {"3", "ffff", "fff1", "Phone Download", 0, "ttyACM1", kMobileName},
      {"4", "0aaa", "0001", "USB Seri\xc3\xa4l\tAdapter\xc2\x9b\xff", 0, "ttyUSB0", "",
       "usbserial_generic"},
  };
  for (const auto& p : plugged) Plug(p);
  ASSERT_TRUE(bed->AddTree(
      "P: /devices/pnp0/00:05\nE: SUBSYSTEM=pnp\n\nP: /devices/pnp0/00:05/tty/ttyS0\nN: ttyS0\n"
      "E: SUBSYSTEM=tty\nE: DEVNAME=/dev/ttyS0\nA: dev=4:64\n",
      why))
      << why;
  const std::string node = table.File("pts-node");
  std::ofstream(node) << "";
  ASSERT_TRUE(tr52::DeclarePort(5, node, "ZUM Mobile USB Serial Port (COM5)"));
  tr52::SerialDevice busy;
  ASSERT_TRUE(busy.Open("/dev/ttyACM1"));  // a download elsewhere holds this phone

  std::vector<std::string> notes;
  const std::string text = station::PortListingText(tr52::ListSerialPorts(true, notes));
  // Padded by characters on the screen, not bytes.
  const auto pad = [](std::string s, size_t w) {
    size_t shown = 0;
    for (const char c : s) shown += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return s + std::string(w - shown, ' ');
  };
  const size_t w0 = node.size();  // the longest name: the declared port's device path
  const std::vector<std::vector<std::string>> expected = {
      {"PORT", "COM", "VENDOR:PRODUCT", "PRODUCT", "POSITION", "DRIVER", "PHONE"},
      {node, "COM5", "-", "-", "port table", "-",
       "no (cannot be opened (Inappropriate ioctl for device))"},
      {"ttyACM0", "COM100", "ffff:fff0", "Phone Composite", "pci-0000:00:14.0-usb-0:2:1.1",
       "cdc_acm", "yes"},
      {"ttyACM1", "COM101", "ffff:fff1", "Phone Download", "pci-0000:00:14.0-usb-0:3:1.0",
       "cdc_acm", "no (in use)"},
      {"ttyS0", "-", "-", "-", "-", "-", "no (not USB)"},
      {"ttyUSB0", "-", "0aaa:0001", "USB Seri\xc3\xa4l\\x09Adapter\\xc2\\x9b\\xff",
       "pci-0000:00:14.0-usb-0:4:1.0", "usbserial_generic", "no (no rule name)"},
  };
  const std::vector<size_t> widths = {w0, 6, 14, 33, 28, 17};
  std::string want;
  for (const auto& row : expected) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c)
      line += c + 1 < row.size() ? pad(row[c], widths[c] + 2) : row[c];
    want += line + "\n";
  }
  EXPECT_EQ(text, want);
}

}  // namespace
}  // namespace tr52test
