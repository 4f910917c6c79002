#include "platform/port_table.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "support/temp_dir.h"

namespace tr52 {
namespace {

// Points TR52_PORT_TABLE at a fresh folder for one test.
class PortTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table_ = dir_.File("ports");
    setenv("TR52_PORT_TABLE", table_.c_str(), 1);
    node_ = dir_.File("ttyFAKE0");
    std::ofstream(node_).put('x');
  }
  void TearDown() override { unsetenv("TR52_PORT_TABLE"); }

  tr52test::TempDir dir_;
  std::string table_;
  std::string node_;
};

TEST_F(PortTableTest, LocationFromEnvironmentElseDefault) {
  EXPECT_EQ(PortTableDir(), table_);
  setenv("TR52_PORT_TABLE", (table_ + "//").c_str(), 1);
  EXPECT_EQ(PortTableDir(), table_);
  unsetenv("TR52_PORT_TABLE");
  EXPECT_EQ(PortTableDir(), "/tmp/tr52-ports");
}

TEST_F(PortTableTest, DeclareListRedeclareWithdraw) {
  EXPECT_TRUE(ListDeclaredPorts().empty());  // no folder yet
  ASSERT_TRUE(DeclarePort(7, node_, "ZUM Mobile USB Serial Port (COM7)"));
  ASSERT_TRUE(DeclarePort(3, node_, "Other (COM3)"));
  auto ports = ListDeclaredPorts();
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].com, 3);
  EXPECT_EQ(ports[1].com, 7);
  EXPECT_EQ(ports[1].devicePath, node_);
  EXPECT_EQ(ports[1].friendlyName, "ZUM Mobile USB Serial Port (COM7)");

  const std::string other = dir_.File("ttyFAKE1");
  std::ofstream(other).put('x');
  ASSERT_TRUE(DeclarePort(7, other, "Renamed (COM7)"));
  ports = ListDeclaredPorts();
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[1].devicePath, other);
  EXPECT_EQ(ports[1].friendlyName, "Renamed (COM7)");

  EXPECT_TRUE(WithdrawPort(7));
  EXPECT_TRUE(WithdrawPort(7));  // already gone is fine
  ports = ListDeclaredPorts();
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].com, 3);
}

TEST_F(PortTableTest, PortIsPresentOnlyWhileItsNodeExists) {
  ASSERT_TRUE(DeclarePort(5, node_, "ZUM Mobile USB Serial Port (COM5)"));
  EXPECT_EQ(ListDeclaredPorts().size(), 1u);
  unlink(node_.c_str());
  EXPECT_TRUE(ListDeclaredPorts().empty());
  std::ofstream(node_).put('x');
  EXPECT_EQ(ListDeclaredPorts().size(), 1u);
}

TEST_F(PortTableTest, RefusesInvalidEntries) {
  EXPECT_FALSE(DeclarePort(-1, node_, "x"));
  EXPECT_FALSE(DeclarePort(kMaxDeclaredCom + 1, node_, "x"));
  EXPECT_FALSE(DeclarePort(1, "relative/path", "x"));
  EXPECT_FALSE(DeclarePort(1, node_, ""));
  EXPECT_FALSE(DeclarePort(1, node_, "two\nlines"));
  EXPECT_FALSE(DeclarePort(1, node_, std::string(kMaxPortTableName + 1, 'a')));
  EXPECT_TRUE(DeclarePort(1, node_, std::string(kMaxPortTableName, 'a')));
}

TEST_F(PortTableTest, ForeignAndBrokenFilesAreIgnored) {
  ASSERT_TRUE(DeclarePort(2, node_, "Good (COM2)"));
  std::ofstream(table_ + "/COM4.port") << "garbage without keys\n";
  std::ofstream(table_ + "/COM05.port") << "device=" << node_ << "\nname=Zero padded\n";
  std::ofstream(table_ + "/README") << "device=" << node_ << "\nname=Not an entry\n";
  std::ofstream(table_ + "/.COM6.port.tmp") << "device=" << node_ << "\nname=Temporary\n";
  const auto ports = ListDeclaredPorts();
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].com, 2);
}

TEST(PortTableParse, EntryFormat) {
  const DeclaredPort p{9, "/dev/pts/4", "ZUM Mobile USB Serial Port (COM9)"};
  EXPECT_EQ(FormatPortEntry(p), "device=/dev/pts/4\nname=ZUM Mobile USB Serial Port (COM9)\n");
  const auto back = ParsePortEntry(9, FormatPortEntry(p));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->devicePath, p.devicePath);
  EXPECT_EQ(back->friendlyName, p.friendlyName);
  // CR LF line ends, comments and unknown keys are accepted.
  EXPECT_TRUE(ParsePortEntry(1, "# c\r\ndevice=/a\r\nusb=1\r\nname=N\r\n"));
  EXPECT_FALSE(ParsePortEntry(1, "device=/a\n"));
  EXPECT_FALSE(ParsePortEntry(1, "name=N\n"));
  EXPECT_FALSE(ParsePortEntry(1, "device=/a\ndevice=/b\nname=N\n"));
  EXPECT_FALSE(ParsePortEntry(1, "device=/a\nname=\n"));
  EXPECT_FALSE(ParsePortEntry(1, "device=/a\nname=N\njunk\n"));
  EXPECT_FALSE(ParsePortEntry(1, std::string("device=/a\nname=N\0x\n", 18)));
}

TEST(PortTableParse, EntryNames) {
  EXPECT_EQ(ComFromEntryName("COM0.port"), 0);
  EXPECT_EQ(ComFromEntryName("COM255.port"), 255);
  EXPECT_EQ(ComFromEntryName("COM9999.port"), 9999);
  EXPECT_FALSE(ComFromEntryName("COM10000.port"));
  EXPECT_FALSE(ComFromEntryName("COM.port"));
  EXPECT_FALSE(ComFromEntryName("COM01.port"));
  EXPECT_FALSE(ComFromEntryName("COM1.port.tmp"));
  EXPECT_FALSE(ComFromEntryName("com1.port"));
  EXPECT_FALSE(ComFromEntryName("COM-1.port"));
}

TEST_F(PortTableTest, ReadersNeverSeeATornEntry) {
  const std::string names[2] = {"ZUM Mobile USB Serial Port (COM8)",
                                std::string(200, 'Z') + " (COM8)"};
  ASSERT_TRUE(DeclarePort(8, node_, names[0]));
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; !stop; ++i) DeclarePort(8, node_, names[i % 2]);
  });
  int seen = 0, bad = 0;
  for (int i = 0; i < 2000; ++i) {
    const auto ports = ListDeclaredPorts();
    if (ports.size() != 1) {
      ++bad;
      continue;
    }
    ++seen;
    if (ports[0].friendlyName != names[0] && ports[0].friendlyName != names[1]) ++bad;
  }
  stop = true;
  writer.join();
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(seen, 2000);
}

}  // namespace
}  // namespace tr52
