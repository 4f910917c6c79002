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
#include "udev_test_base.h"

namespace tr52test {
namespace {

using PortViewTest = UdevTest;

TEST_F(PortViewTest, FollowsEventsWithoutListingAgainAndAgreesWithTheListing) {
  const std::string node = table.File("pts-node");  // a pseudo-terminal node stands in
  const UsbSerial a = NormalModePhone("2", "ttyACM0"), b = NormalModePhone("3", "ttyACM1");
  struct Step {
    const char* what;
    std::function<void()> act;
    std::set<int> present;
    bool tableEvent;
  };
  const std::vector<Step> steps = {
      {"two phones", [&] { Plug(a), Plug(b); }, {100, 101}, false},
      {"a serial adapter without a rule name",
       [&] {
         Plug({"4", "0aaa", "0001", "Adapter", 0, "ttyUSB0", "", "usbserial_generic"});
       },
       {100, 101},
       false},
      {"phone A unplugged", [&] { bed->Unplug(a); }, {101}, false},
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
      {"phone A back under another name",
       [&] { Plug(NormalModePhone("2", "ttyACM2")); },
       {100, 101},
       false},
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
  std::string why;
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
