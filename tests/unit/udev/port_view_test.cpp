// The port view against scripted USB devices and a private port table: phones coming and going
// through udev's announcements, declared ports coming and going through the table and their
// nodes, each seen by the next question without a new listing, and every answer the one the full
// listing gives.
#include "link/port_view.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <optional>
#include <set>

#include "link/port_enum.h"
#include "platform/port_table.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "usb_testbed.h"

namespace tr52test {
namespace {

UsbSerial Phone(const std::string& hubPort, const std::string& kernelName) {
  return {hubPort, "ffff", "fff0", "Phone Composite", 1, kernelName, kMobileName, "cdc_acm"};
}

TEST(PortView, FollowsEventsWithoutListingAgainAndAgreesWithTheListing) {
  std::string why;
  if (!UsbTestbed::Available(why)) GTEST_SKIP() << why;
  TempDir table, mapDir;
  ScopedEnv tableEnv("TR52_PORT_TABLE", table.Path());
  ScopedEnv mapEnv("TR52_COM_MAP_DIR", mapDir.Path());
  UsbTestbed bed;
  const std::string node = table.File("pts-node");  // a pseudo-terminal node stands in
  const UsbSerial a = Phone("2", "ttyACM0"), b = Phone("3", "ttyACM1");
  auto plug = [&](const UsbSerial& p) {
    std::string error;
    ASSERT_TRUE(bed.Plug(p, error)) << error;
  };
  struct Step {
    const char* what;
    std::function<void()> act;
    std::set<int> present;
    bool tableEvent;
  };
  const std::vector<Step> steps = {
      {"two phones", [&] { plug(a), plug(b); }, {100, 101}, false},
      {"a serial adapter without a rule name",
       [&] {
         plug({"4", "0aaa", "0001", "Adapter", 0, "ttyUSB0", "", "usbserial_generic"});
       },
       {100, 101},
       false},
      {"phone A unplugged", [&] { bed.Unplug(a); }, {101}, false},
      {"a virtual phone declares COM5",
       [&] {
         std::ofstream(node) << "";
         ASSERT_TRUE(tr52::DeclarePort(5, node, "ZUM Mobile USB Serial Port (COM5)"));
       },
       {5, 101},
       true},
      {"its node vanishes, without an event", [&] { unlink(node.c_str()); }, {101}, false},
      {"its node is back", [&] { std::ofstream(node) << ""; }, {5, 101}, false},
      {"it withdraws", [&] { ASSERT_TRUE(tr52::WithdrawPort(5)); }, {101}, true},
      {"phone A back under another name", [&] { plug(Phone("2", "ttyACM2")); }, {100, 101}, false},
      {"a declared modem takes COM101 from phone B",
       [&] { ASSERT_TRUE(tr52::DeclarePort(101, node, "Some Modem (COM101)")); },
       {100},
       true},
      {"a junk file in the table",
       [&] { std::ofstream(table.File("notes.txt")) << "x"; },
       {100},
       false},
      {"the modem withdraws", [&] { ASSERT_TRUE(tr52::WithdrawPort(101)); }, {100, 101}, true},
  };
  tr52::PortView view;
  uint64_t tableReads = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.act();
    std::set<int> present;
    for (int com = 0; com < 256; ++com) {
      const auto answer = view.PhonePort(com, why);
      ASSERT_NE(answer, tr52::PortView::Presence::Unknown) << why;
      if (answer == tr52::PortView::Presence::Present) present.insert(com);
    }
    EXPECT_EQ(present, step.present);
    std::vector<tr52::SerialPortInfo> listed;
    tr52::EnumPhonePorts(listed, false);
    std::set<int> fromListing;
    for (const auto& p : listed) fromListing.insert(p.portNumber);
    EXPECT_EQ(present, fromListing);
    const auto reads = view.Counts();
    EXPECT_EQ(reads.ttyListings, 1u) << "listed the ttys again";
    if (tableReads > 0) {
      EXPECT_EQ(reads.tableReads > tableReads, step.tableEvent);
    }
    tableReads = reads.tableReads;
  }
  EXPECT_EQ(view.PhonePort(100 + 256, why), tr52::PortView::Presence::Absent);
}

}  // namespace
}  // namespace tr52test
