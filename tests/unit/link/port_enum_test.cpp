#include "link/port_enum.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>

#include "link/serial_port.h"
#include "link/serial_ports.h"
#include "platform/port_table.h"
#include "support/log_capture.h"
#include "support/scripted_peer.h"

namespace tr52test {
namespace {

using tr52::SerialPortInfo;

SerialPortInfo Port(const std::string& name, const std::string& friendly) {
  SerialPortInfo p;
  p.portName = name;
  p.friendlyName = friendly;
  p.devicePath = "/dev/null";
  return p;
}

TEST(FilterPhonePorts, KeepsOnlyNamesThatBeginWithAPhonePortName) {
  std::vector<SerialPortInfo> list{
      Port("COM3", "Communications Port (COM3)"),
      Port("COM7", "ZUM Mobile USB Serial Port (COM7)"),
      Port("COM9", "Virtual ZUM Mobile USB Serial Port (COM9)"),
      Port("COM4", "ZUM CDMA USB Serial Port (COM4)"),
      Port("COM8", "ZUM Mobile USB Serial Port #2 (COM8)"),
      Port("COM10", "zum mobile usb serial port (COM10)"),
  };
  tr52::FilterPhonePorts(list, false);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].portNumber, 7);
  EXPECT_EQ(list[0].portDescription, "ZUM Mobile USB Serial Port (COM7)");
  EXPECT_EQ(list[1].portNumber, 4);
  EXPECT_EQ(list[2].portNumber, 8);
  EXPECT_EQ(list[2].portDescription, "ZUM Mobile USB Serial Port");
  EXPECT_EQ(list[2].friendlyName, "ZUM Mobile USB Serial Port #2 (COM8)");
}

TEST(FilterPhonePorts, OnlyPortNumbers0To255Match) {
  std::vector<SerialPortInfo> list{
      Port("COM0", "ZUM Mobile USB Serial Port (COM0)"),
      Port("COM255", "ZUM Mobile USB Serial Port (COM255)"),
      Port("COM256", "ZUM Mobile USB Serial Port (COM256)"),
      Port("COM1000", "ZUM Mobile USB Serial Port (COM1000)"),
      Port("COMx", "ZUM Mobile USB Serial Port (COMx)"),
  };
  tr52::FilterPhonePorts(list, false);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].portNumber, 0);
  EXPECT_EQ(list[1].portNumber, 255);
}

TEST(FilterPhonePorts, CheckOpenDropsPortsThatCannotBeOpened) {
  std::vector<SerialPortInfo> list{Port("COM7", "ZUM Mobile USB Serial Port (COM7)")};
  list[0].devicePath = "/nonexistent/tty";
  tr52::FilterPhonePorts(list, true);
  EXPECT_TRUE(list.empty());
}

TEST(EnumPhonePorts, ListsDeclaredPhonePortsAndEmptiesTheList) {
  ScriptedPeer a(12), b(13);
  ASSERT_TRUE(tr52::DeclarePort(14, a.DevicePath(), "Some Modem (COM14)"));
  std::vector<SerialPortInfo> list{Port("COM99", "stale entry")};
  tr52::EnumPhonePorts(list, false);
  std::vector<int> numbers;
  for (const auto& p : list) numbers.push_back(p.portNumber);
  EXPECT_NE(std::find(numbers.begin(), numbers.end(), 12), numbers.end());
  EXPECT_NE(std::find(numbers.begin(), numbers.end(), 13), numbers.end());
  EXPECT_EQ(std::find(numbers.begin(), numbers.end(), 14), numbers.end());
  EXPECT_EQ(std::find(numbers.begin(), numbers.end(), 99), numbers.end());
  for (const auto& p : list) {
    if (p.portNumber == 12) {
      EXPECT_EQ(p.devicePath, a.DevicePath());
      EXPECT_EQ(p.portName, "COM12");
      EXPECT_EQ(p.portDescription, "ZUM Mobile USB Serial Port (COM12)");
    }
  }
  tr52::WithdrawPort(14);
}

TEST(EnumPhonePorts, VanishedPortIsNotListedAndCheckOpenDropsBusyPorts) {
  ScriptedPeer a(21), b(22);
  b.Vanish();
  std::vector<SerialPortInfo> list;
  tr52::EnumPhonePorts(list, true);
  bool has21 = false, has22 = false;
  for (const auto& p : list) {
    has21 |= p.portNumber == 21;
    has22 |= p.portNumber == 22;
  }
  EXPECT_TRUE(has21);
  EXPECT_FALSE(has22);
  tr52::SerialPort holder;
  ASSERT_TRUE(holder.Open(21));
  tr52::EnumPhonePorts(list, true);
  for (const auto& p : list) EXPECT_NE(p.portNumber, 21);
  tr52::EnumPhonePorts(list, false);
  EXPECT_TRUE(std::any_of(list.begin(), list.end(), [](auto& p) { return p.portNumber == 21; }));
  holder.Close();
}

// An entry in the table that is not a small regular file is skipped with a log line, and the
// listing still ends and lists the rest. The host lists the ports about once a second: the line
// is written when the entry appears, not at every listing while it stays.
TEST(EnumPhonePorts, UnsafeTableEntryIsSkippedWithOneLogLineWhileItLasts) {
  LogCapture log;
  ScriptedPeer a(24);
  const std::string fifo = ScriptedPeer::TableDir() + "/COM25.port";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::vector<SerialPortInfo> list;
  auto listed = std::async(std::launch::async, [&] { tr52::EnumPhonePorts(list, false); });
  const bool finished = listed.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  EXPECT_TRUE(finished) << "the listing blocked on the FIFO";
  if (!finished) {  // release the blocked reader so that the test can end
    const int w = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (w >= 0) close(w);
  }
  listed.get();
  EXPECT_TRUE(std::any_of(list.begin(), list.end(), [](auto& p) { return p.portNumber == 24; }));
  const std::string line = "Port table: skipped COM25.port (not a regular file)";
  EXPECT_EQ(log.Count(line), 1u);
  tr52::EnumPhonePorts(list, false);
  tr52::EnumPhonePorts(list, false);
  EXPECT_EQ(log.Count(line), 1u) << "logged again while the entry stayed";
  unlink(fifo.c_str());
  tr52::EnumPhonePorts(list, false);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  tr52::EnumPhonePorts(list, false);
  unlink(fifo.c_str());
  EXPECT_EQ(log.Count(line), 2u) << "not logged when it came back";
}

}  // namespace
}  // namespace tr52test

namespace tr52test {
namespace {

// Notes carry folder names and positions from outside; a line break in one must not make a
// line of its own in the log.
TEST(PortNotes, AreLoggedOnOneLineWithOutsideTextEscaped) {
  LogCapture log;
  tr52::LogLastingNotes({"Port table /tmp/a\r\n[12:00:00:000]  : [COM5] forged cannot be read"},
                        "Port table");
  EXPECT_TRUE(log.Has("Port table /tmp/a\\x0d\\x0a[12:00:00:000]  : [COM5] forged cannot be read"));
  EXPECT_FALSE(log.Has("[COM5] forged cannot be read"));
}

}  // namespace
}  // namespace tr52test
