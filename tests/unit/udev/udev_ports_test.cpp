// The udev path against scripted device trees: which ttys are phone ports, their friendly names
// and COM numbers, numbers kept across re-enumeration, mode changes and restarts, a damaged COM
// map, and the port table winning its numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <tuple>

#include "link/com_map.h"
#include "link/port_enum.h"
#include "link/serial_ports.h"
#include "platform/port_table.h"
#include "platform/serial_device.h"
#include "support/log_capture.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "udev_test_base.h"

namespace tr52test {
namespace {

using tr52::ListedPort;

// The same phone in download mode: another product ID, its one port on interface 0.
UsbSerial DownloadPhone(const std::string& hubPort, const std::string& kernelName) {
  return {hubPort, "ffff", "fff1", "Phone Download", 0, kernelName, kMobileName, "cdc_acm"};
}

class UdevPortsTest : public UdevTest {
 protected:
  std::vector<ListedPort> List(bool probe = false) {
    std::vector<std::string> notes;
    auto ports = tr52::ListSerialPorts(probe, notes);
    for (const auto& n : notes) lastNotes.push_back(n);
    return ports;
  }

  std::optional<ListedPort> ByName(const std::string& name) {
    for (auto& p : List())
      if (p.Name() == name) return p;
    return std::nullopt;
  }

  std::optional<int> ComOf(const std::string& kernelName) {
    const auto p = ByName(kernelName);
    return p ? p->Com() : std::nullopt;
  }

  std::vector<tr52::SerialPortInfo> PhonePorts() {
    std::vector<tr52::SerialPortInfo> list;
    tr52::EnumPhonePorts(list, false);
    return list;
  }

  std::string MapFile() const { return mapDir.File("com-map"); }

  std::vector<std::string> lastNotes;
};

TEST_F(UdevPortsTest, RuleNamedPortsArePhonePortsAndEveryOtherSerialPortSaysWhyNot) {
  Plug(NormalModePhone("1", "ttyACM0"));
  Plug({"2", "ffff", "fff2", "CDMA Phone", 0, "ttyUSB0", kCdmaName, "option"});
  Plug({"3", "0aaa", "0001", "USB Serial Adapter", 0, "ttyUSB1", "", "usbserial_generic"});
  Plug({"4", "1234", "5678", "Other Modem", 0, "ttyACM1", "Other Modem Port", "cdc_acm"});
  struct Row {
    std::string name;
    std::optional<int> com;
    std::string friendly;
    std::string whyNot;
    std::string vidPid, product, driver, position;
  };
  // Only the phone ports get numbers.
  const std::vector<Row> rows = {
      {"ttyACM0", 100, "ZUM Mobile USB Serial Port (COM100)", "", "ffff:fff0", "Phone Composite",
       "cdc_acm", "pci-0000:00:14.0-usb-0:1:1.1"},
      {"ttyUSB0", 101, "ZUM CDMA USB Serial Port (COM101)", "", "ffff:fff2", "CDMA Phone", "option",
       "pci-0000:00:14.0-usb-0:2:1.0"},
      {"ttyACM1", std::nullopt, "", "rule name is not a phone port name", "1234:5678",
       "Other Modem", "cdc_acm", "pci-0000:00:14.0-usb-0:4:1.0"},
      {"ttyUSB1", std::nullopt, "", "no rule name", "0aaa:0001", "USB Serial Adapter",
       "usbserial_generic", "pci-0000:00:14.0-usb-0:3:1.0"},
  };
  const auto ports = List();
  ASSERT_EQ(ports.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    const ListedPort& p = ports[i];
    SCOPED_TRACE(row.name);
    EXPECT_EQ(p.Name(), row.name);
    EXPECT_EQ(p.DevicePath(), "/dev/" + row.name);
    EXPECT_EQ(p.Com(), row.com);
    EXPECT_EQ(p.FriendlyName(), row.friendly);
    EXPECT_EQ(p.WhyNot(), row.whyNot);
    EXPECT_EQ(p.IsPhonePort(), row.whyNot.empty());
    EXPECT_EQ(p.VendorId() + ":" + p.ProductId(), row.vidPid);
    EXPECT_EQ(p.Product(), row.product);
    EXPECT_EQ(p.Driver(), row.driver);
    EXPECT_EQ(p.Position(), row.position);
    EXPECT_EQ(p.From(), ListedPort::Source::Usb);
  }

  // The enumerator lists the two phones, and only them.
  const auto phones = PhonePorts();
  ASSERT_EQ(phones.size(), 2u);
  EXPECT_EQ(phones[0].portNumber, 100);
  EXPECT_EQ(phones[0].friendlyName, "ZUM Mobile USB Serial Port (COM100)");
  EXPECT_EQ(phones[0].portDescription, "ZUM Mobile USB Serial Port (COM100)");
  EXPECT_EQ(phones[0].devicePath, "/dev/ttyACM0");
  EXPECT_TRUE(phones[0].usbDevice);
  EXPECT_EQ(phones[1].portNumber, 101);
  EXPECT_EQ(phones[1].friendlyName, "ZUM CDMA USB Serial Port (COM101)");
  EXPECT_EQ(phones[1].devicePath, "/dev/ttyUSB0");
}

// A motherboard UART is listed as "not USB" without a number; virtual consoles and the kernel's
// placeholder UARTs are not serial ports anyone plugs a phone into, and are not listed.
TEST_F(UdevPortsTest, SerialPortsOffUsbAreListedWithoutANumber) {
  std::string error;
  ASSERT_TRUE(bed->AddTree(
      "P: /devices/pnp0/00:05\nE: SUBSYSTEM=pnp\n\n"
      "P: /devices/pnp0/00:05/tty/ttyS0\nN: ttyS0\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/ttyS0\n"
      "A: dev=4:64\n\n"
      "P: /devices/platform/serial8250\nE: SUBSYSTEM=platform\n\n"
      "P: /devices/platform/serial8250/tty/ttyS1\nN: ttyS1\nE: SUBSYSTEM=tty\n"
      "E: DEVNAME=/dev/ttyS1\nA: dev=4:65\n\n"
      "P: /devices/virtual/tty/tty0\nN: tty0\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/tty0\n"
      "A: dev=4:0\n",
      error))
      << error;
  Plug(NormalModePhone("1", "ttyACM0"));
  const auto ports = List();
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].Name(), "ttyACM0");
  EXPECT_EQ(ports[0].Com(), 100);
  EXPECT_EQ(ports[1].Name(), "ttyS0");
  EXPECT_EQ(ports[1].Com(), std::nullopt);
  EXPECT_EQ(ports[1].WhyNot(), "not USB");
  EXPECT_EQ(ports[1].From(), ListedPort::Source::Other);
  EXPECT_EQ(PhonePorts().size(), 1u);
  // Only the USB position went into the map.
  std::vector<std::string> problems;
  std::ifstream in(MapFile());
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(tr52::ComMap::Parse(text.str(), problems).Size(), 1u);
}

// Flow 1 takes a phone into download mode and back: each time its port vanishes and comes back
// under another kernel name, another product ID and another interface, in the same hub port.
// Its COM number, and the device the link opens for it, follow it; the phone beside it keeps
// its own number. (umockdev cannot give a node name back once used: every name is new.)
TEST_F(UdevPortsTest, APhoneThatReenumeratesInTheSameHubPortKeepsItsNumber) {
  struct Step {
    const char* what;
    std::vector<UsbSerial> unplug, plug;
    std::map<std::string, int> expected;  // kernel name -> COM number
  };
  const UsbSerial aNormal = NormalModePhone("2", "ttyACM0");
  const UsbSerial b = NormalModePhone("3", "ttyACM1");
  const UsbSerial aDownload = DownloadPhone("2", "ttyACM2");
  const UsbSerial aBack = NormalModePhone("2", "ttyACM3");
  const std::vector<Step> steps = {
      {"phone A plugged", {}, {aNormal}, {{"ttyACM0", 100}}},
      {"phone B plugged", {}, {b}, {{"ttyACM0", 100}, {"ttyACM1", 101}}},
      {"A reboots into download mode",
       {aNormal},
       {aDownload},
       {{"ttyACM2", 100}, {"ttyACM1", 101}}},
      {"A resets into normal mode", {aDownload}, {aBack}, {{"ttyACM3", 100}, {"ttyACM1", 101}}},
      {"B unplugged", {b}, {}, {{"ttyACM3", 100}}},
      {"B plugged again as ttyACM4",
       {},
       {NormalModePhone("3", "ttyACM4")},
       {{"ttyACM4", 101}, {"ttyACM3", 100}}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    for (const auto& p : step.unplug) bed->Unplug(p);
    for (const auto& p : step.plug) Plug(p);
    const auto phones = PhonePorts();
    std::map<std::string, int> seen;
    for (const auto& p : phones) seen[p.devicePath.substr(5)] = p.portNumber;
    EXPECT_EQ(seen, step.expected);
    for (const auto& [name, com] : step.expected)
      EXPECT_EQ(tr52::DevicePathOfCom(com), "/dev/" + name);
  }
  EXPECT_EQ(tr52::DevicePathOfCom(102), std::nullopt);
  EXPECT_TRUE(lastNotes.empty());
}

// Two phones in two hub ports keep their numbers over a restart of the machine (a new device
// tree) in which they enumerate in the other order.
TEST_F(UdevPortsTest, TwoPhonesInTwoHubPortsKeepTheirNumbersWhateverTheOrder) {
  Plug(NormalModePhone("1.1", "ttyACM0"));
  Plug(NormalModePhone("1.2", "ttyACM1"));
  EXPECT_EQ(ComOf("ttyACM0"), 100);
  EXPECT_EQ(ComOf("ttyACM1"), 101);
  bed.reset();
  bed.emplace();
  Plug(NormalModePhone("1.2", "ttyACM0"));
  Plug(DownloadPhone("1.1", "ttyACM1"));
  Plug(NormalModePhone("1.3", "ttyACM2"));  // a third hub port, never seen before
  EXPECT_EQ(ComOf("ttyACM0"), 101);
  EXPECT_EQ(ComOf("ttyACM1"), 100);
  EXPECT_EQ(ComOf("ttyACM2"), 102);
}

// A damaged COM map is rebuilt from what is sound in it, with a log line; the phone keeps the
// number the sound part gave it.
TEST_F(UdevPortsTest, ADamagedComMapIsRebuiltWithALogLine) {
  {
    std::ofstream out(MapFile(), std::ios::binary);
    out << "COM104 pci-0000:00:14.0-usb-0:2\n"
        << std::string("\0\x01garbage\n", 10) << "COM104 pci-0000:00:14.0-usb-0:9\nCOM1";
  }
  LogCapture log;
  Plug(NormalModePhone("2", "ttyACM0"));
  Plug(NormalModePhone("3", "ttyACM1"));
  const auto phones = PhonePorts();
  ASSERT_EQ(phones.size(), 2u);
  EXPECT_EQ(phones[0].portNumber, 100);
  EXPECT_EQ(phones[0].devicePath, "/dev/ttyACM1");
  EXPECT_EQ(phones[1].portNumber, 104);
  EXPECT_EQ(phones[1].devicePath, "/dev/ttyACM0");
  const auto lines = log.Lines();
  const std::string start = "COM map " + MapFile() + " damaged (line 2: ";
  ASSERT_EQ(std::count_if(lines.begin(), lines.end(),
                          [&](const std::string& l) { return l.rfind(start, 0) == 0; }),
            1)
      << ::testing::PrintToString(lines);
  // Rewritten sound: the next listing says nothing and gives the same numbers.
  LogCapture again;
  EXPECT_EQ(PhonePorts().size(), 2u);
  EXPECT_TRUE(again.Lines().empty()) << again.Lines()[0];
  EXPECT_EQ(ComOf("ttyACM0"), 104);
}

// A COM map folder that cannot be made is said once, not at every poll of the host or open of a
// port, and said again when it comes back after being fixed.
TEST_F(UdevPortsTest, AnUnusableComMapFolderIsLoggedOnceWhileItLasts) {
  const std::string blocker = mapDir.File("plain-file");
  std::ofstream(blocker) << "";
  ScopedEnv noFolder("TR52_COM_MAP_DIR", blocker + "/state");
  Plug(NormalModePhone("2", "ttyACM0"));
  const std::string line =
      "COM map: no folder for it (" + blocker + "/state); COM numbers are not kept";
  LogCapture log;
  for (int poll = 0; poll < 3; ++poll) {
    EXPECT_EQ(PhonePorts().size(), 1u);
    EXPECT_EQ(tr52::DevicePathOfCom(100), "/dev/ttyACM0");
  }
  EXPECT_EQ(log.Count(line), 1u) << ::testing::PrintToString(log.Lines());
  {
    ScopedEnv fixed("TR52_COM_MAP_DIR", mapDir.Path());
    EXPECT_EQ(PhonePorts().size(), 1u);
  }
  EXPECT_EQ(PhonePorts().size(), 1u);
  EXPECT_EQ(log.Count(line), 2u);
}

// Ports declared in the port table keep working beside udev's and win their numbers: a USB
// port mapped to a declared number is not a phone port while the declaration stands, and new
// USB positions are never given a declared number.
TEST_F(UdevPortsTest, DeclaredPortsWinTheirNumbers) {
  Plug(NormalModePhone("2", "ttyACM0"));
  ASSERT_EQ(ComOf("ttyACM0"), 100);
  const std::string node = table.File("node");
  std::ofstream(node) << "";
  ASSERT_TRUE(tr52::DeclarePort(100, node, "ZUM Mobile USB Serial Port (COM100)"));
  ASSERT_TRUE(tr52::DeclarePort(101, node, "ZUM Mobile USB Serial Port (COM101)"));
  Plug(NormalModePhone("3", "ttyACM1"));

  const auto acm0 = ByName("ttyACM0");
  ASSERT_TRUE(acm0);
  EXPECT_EQ(acm0->Com(), 100);
  EXPECT_EQ(acm0->WhyNot(), "COM100 taken by the port table");
  EXPECT_EQ(ComOf("ttyACM1"), 102);
  EXPECT_EQ(tr52::DevicePathOfCom(100), node);
  EXPECT_EQ(tr52::DevicePathOfCom(102), "/dev/ttyACM1");

  const auto phones = PhonePorts();
  ASSERT_EQ(phones.size(), 3u);
  for (const auto& [i, com, path, usb] : std::vector<std::tuple<size_t, int, std::string, bool>>{
           {0, 100, node, false}, {1, 101, node, false}, {2, 102, "/dev/ttyACM1", true}}) {
    EXPECT_EQ(phones[i].portNumber, com);
    EXPECT_EQ(phones[i].devicePath, path);
    EXPECT_EQ(phones[i].usbDevice, usb);
  }
  // Withdrawn, the number goes back to the USB port.
  ASSERT_TRUE(tr52::WithdrawPort(100));
  ASSERT_TRUE(tr52::WithdrawPort(101));
  EXPECT_EQ(tr52::DevicePathOfCom(100), "/dev/ttyACM0");
  EXPECT_TRUE(ByName("ttyACM0")->IsPhonePort());
}

// With probing, a phone port held open by a download elsewhere says "in use".
TEST_F(UdevPortsTest, ProbingTellsAPortInUse) {
  Plug(NormalModePhone("2", "ttyACM0"));
  Plug(NormalModePhone("3", "ttyACM1"));
  tr52::SerialDevice holder;
  ASSERT_TRUE(holder.Open("/dev/ttyACM0"));
  const auto ports = List(true);
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].WhyNot(), "in use");
  EXPECT_EQ(ports[1].WhyNot(), "");
  holder.Close();
  EXPECT_EQ(List(true)[0].WhyNot(), "");
}

}  // namespace
}  // namespace tr52test
