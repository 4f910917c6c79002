#include "platform/port_table.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <thread>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace tr52 {
namespace {

// Points TR52_PORT_TABLE at a fresh folder for one test.
class PortTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    node_ = dir_.File("ttyFAKE0");
    std::ofstream(node_).put('x');
  }

  bool HasNote(const PortTableListing& listing, const std::string& note) const {
    for (const auto& n : listing.notes)
      if (n == note) return true;
    return false;
  }

  tr52test::TempDir dir_;
  std::string table_ = dir_.File("ports");
  tr52test::ScopedEnv tableEnv_{"TR52_PORT_TABLE", table_};
  std::string node_;
};

TEST(PortTableLocation, FromEnvironmentElsePerUserDefault) {
  const std::string uid = std::to_string(geteuid());
  struct Row {
    const char* table;
    const char* runtime;
    const char* tmp;
    std::string expected;
  };
  const Row rows[] = {
      {"/x/ports", "/run/user/7", "/t", "/x/ports"},
      {"/x/ports//", nullptr, nullptr, "/x/ports"},
      {"", "/run/user/7", "/t", "/run/user/7/tr52-ports"},
      {nullptr, "/run/user/7/", nullptr, "/run/user/7/tr52-ports"},
      {nullptr, nullptr, "/t", "/t/tr52-ports-" + uid},
      {nullptr, "relative", "", "/tmp/tr52-ports-" + uid},
      {nullptr, nullptr, nullptr, "/tmp/tr52-ports-" + uid},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.expected);
    tr52test::ScopedEnv table("TR52_PORT_TABLE", row.table);
    tr52test::ScopedEnv runtime("XDG_RUNTIME_DIR", row.runtime);
    tr52test::ScopedEnv tmp("TMPDIR", row.tmp);
    EXPECT_EQ(PortTableDir(), row.expected);
  }
}

// The default folder is created private to the user on the first declaration.
TEST(PortTableLocation, DefaultFolderIsCreatedPrivate) {
  tr52test::TempDir dir;
  const std::string node = dir.File("node");
  std::ofstream(node).put('x');
  ASSERT_EQ(mkdir(dir.File("run").c_str(), 0700), 0);
  struct Row {
    const char* runtime;
    std::string expected;
  };
  const Row rows[] = {{nullptr, dir.File("tr52-ports-" + std::to_string(geteuid()))},
                      {"run", dir.File("run/tr52-ports")}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.expected);
    tr52test::ScopedEnv table("TR52_PORT_TABLE", nullptr);
    tr52test::ScopedEnv runtime("XDG_RUNTIME_DIR",
                                row.runtime ? dir.File(row.runtime).c_str() : nullptr);
    tr52test::ScopedEnv tmp("TMPDIR", dir.Path());
    ASSERT_EQ(PortTableDir(), row.expected);
    const mode_t old = umask(0);  // the folder's mode must not depend on the caller's umask
    const bool declared = DeclarePort(3, node, "ZUM Mobile USB Serial Port (COM3)");
    umask(old);
    ASSERT_TRUE(declared);
    struct stat st;
    ASSERT_EQ(lstat(row.expected.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, geteuid());
    EXPECT_EQ(ListDeclaredPorts().size(), 1u);
    EXPECT_TRUE(WithdrawPort(3));
  }
}

// A folder that someone else could have filled is not read, not written, and named in a note.
TEST_F(PortTableTest, FolderThatIsNotTheUsersOwnIsRefused) {
  const std::string good = dir_.File("good");
  ASSERT_EQ(mkdir(good.c_str(), 0700), 0);
  std::ofstream(good + "/COM2.port") << "device=" << node_ << "\nname=Planted (COM2)\n";
  struct Row {
    const char* what;
    std::function<bool(const std::string&)> make;  // false: cannot be set up here
    const char* why;
  };
  const Row rows[] = {
      {"symbolic link to a good folder",
       [&](const std::string& p) { return symlink(good.c_str(), p.c_str()) == 0; },
       "a symbolic link"},
      {"writable by others",
       [](const std::string& p) {
         return mkdir(p.c_str(), 0700) == 0 && chmod(p.c_str(), 0703) == 0;
       },
       "writable by group or others"},
      {"writable by the group",
       [](const std::string& p) {
         return mkdir(p.c_str(), 0700) == 0 && chmod(p.c_str(), 0770) == 0;
       },
       "writable by group or others"},
      {"owned by another user",
       [](const std::string& p) {
         return geteuid() == 0 && mkdir(p.c_str(), 0700) == 0 &&
                chown(p.c_str(), 65534, 65534) == 0;
       },
       "not owned by the user"},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string table = dir_.File("table" + std::to_string(n++));
    if (!row.make(table)) {
      std::cerr << "not set up (needs root): " << row.what << "\n";
      continue;
    }
    if (access((table + "/COM2.port").c_str(), F_OK) != 0)
      std::ofstream(table + "/COM2.port") << "device=" << node_ << "\nname=Planted (COM2)\n";
    tableEnv_.Set(table.c_str());
    const PortTableListing listing = ReadPortTable();
    EXPECT_TRUE(listing.ports.empty());
    EXPECT_TRUE(HasNote(listing, "Port table " + table + " refused: " + row.why))
        << (listing.notes.empty() ? "no note" : listing.notes[0]);
    errno = 0;
    EXPECT_FALSE(DeclarePort(4, node_, "ZUM Mobile USB Serial Port (COM4)"));
    EXPECT_EQ(errno, EPERM);
    EXPECT_FALSE(WithdrawPort(2));
  }
  EXPECT_EQ(access((good + "/COM4.port").c_str(), F_OK), -1);
  EXPECT_EQ(access((good + "/COM2.port").c_str(), F_OK), 0);
}

// Entries that are not small regular files are skipped with a note, and none of them can stall
// the listing (a FIFO opened for reading would wait for a writer for ever).
TEST_F(PortTableTest, UnsafeEntriesAreSkippedWithoutBlocking) {
  ASSERT_TRUE(DeclarePort(2, node_, "Good (COM2)"));
  const std::string outside = dir_.File("outside.port");
  std::ofstream(outside) << "device=" << node_ << "\nname=Linked (COM4)\n";
  ASSERT_EQ(mkfifo((table_ + "/COM3.port").c_str(), 0600), 0);
  ASSERT_EQ(symlink(outside.c_str(), (table_ + "/COM4.port").c_str()), 0);
  {
    std::ofstream big(table_ + "/COM5.port");
    big << "device=" << node_ << "\nname=Big (COM5)\n";
    for (int i = 0; i < 2000; ++i) big << "# padding padding\n";
  }
  ASSERT_EQ(mkdir((table_ + "/COM6.port").c_str(), 0700), 0);

  auto listing = std::async(std::launch::async, [] { return ReadPortTable(); });
  const bool finished = listing.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  EXPECT_TRUE(finished) << "the listing blocked on the FIFO";
  if (!finished) {  // release the blocked reader so that the test can end
    const int w = open((table_ + "/COM3.port").c_str(), O_WRONLY | O_NONBLOCK);
    if (w >= 0) close(w);
  }
  const PortTableListing got = listing.get();
  ASSERT_EQ(got.ports.size(), 1u);
  EXPECT_EQ(got.ports[0].com, 2);
  EXPECT_TRUE(HasNote(got, "Port table: skipped COM3.port (not a regular file)"));
  EXPECT_TRUE(HasNote(got, "Port table: skipped COM4.port (a symbolic link)"));
  EXPECT_TRUE(HasNote(got, "Port table: skipped COM5.port (larger than 8192 bytes)"));
  EXPECT_TRUE(HasNote(got, "Port table: skipped COM6.port (not a regular file)"));
  EXPECT_EQ(got.notes.size(), 4u);
}

TEST_F(PortTableTest, DeclareListRedeclareWithdraw) {
  const PortTableListing none = ReadPortTable();  // no folder yet: nothing, and no note
  EXPECT_TRUE(none.ports.empty());
  EXPECT_TRUE(none.notes.empty());
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
  // Replaced whole each time: no temporary file stays, and others may read the entry.
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(table_))
    names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"COM3.port"});
  struct stat st;
  ASSERT_EQ(stat((table_ + "/COM3.port").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(PortTableTest, PortIsPresentOnlyWhileItsNodeExists) {
  ASSERT_TRUE(DeclarePort(5, node_, "ZUM Mobile USB Serial Port (COM5)"));
  EXPECT_EQ(ListDeclaredPorts().size(), 1u);
  unlink(node_.c_str());
  EXPECT_TRUE(ListDeclaredPorts().empty());
  EXPECT_EQ(ReadPortTableEntries().ports.size(), 1u);  // the entry stays, for a later node
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
