#include "link/com_map.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "link/udev_ports.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace tr52test {
namespace {

using tr52::ComMap;
using namespace std::string_literals;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Spit(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

struct ParseRow {
  const char* what;
  std::string text;
  std::vector<std::pair<std::string, int>> kept;  // position -> number
  size_t problems;
};

TEST(ComMapParse, KeepsSoundLinesAndReportsEveryOtherOne) {
  const std::vector<ParseRow> rows = {
      {"empty", "", {}, 0},
      {"comments, blank lines, CR LF",
       "# header\r\n\r\nCOM100 pci-0000:00:14.0-usb-0:2\r\nCOM255 usb-1-1.4\n",
       {{"pci-0000:00:14.0-usb-0:2", 100}, {"usb-1-1.4", 255}},
       0},
      {"no final newline", "COM101 a", {{"a", 101}}, 0},
      {"below the range", "COM99 a\nCOM100 b\n", {{"b", 100}}, 1},
      {"above the range", "COM256 a\n", {}, 1},
      {"leading zero", "COM0100 a\n", {}, 1},
      {"not a number", "COM1x0 a\nCOM a\n", {}, 2},
      {"no position", "COM100\nCOM101 \n", {}, 2},
      {"position with a blank or a slash", "COM100 a b\nCOM101 ../etc\n", {}, 2},
      {"lower case prefix", "com100 a\n", {}, 1},
      {"repeated position: the first stays", "COM100 a\nCOM101 a\n", {{"a", 100}}, 1},
      {"repeated number: the first stays", "COM100 a\nCOM100 b\n", {{"a", 100}}, 1},
      {"binary junk", "COM100 a\n\x01\xff\x00zz\nCOM102 c\n"s, {{"a", 100}, {"c", 102}}, 1},
      {"overlong position",
       "COM100 " + std::string(256, 'p') + "\nCOM101 " + std::string(255, 'q') + "\n",
       {{std::string(255, 'q'), 101}},
       1},
  };
  for (const auto& row : rows) {
    std::vector<std::string> problems;
    const ComMap map = ComMap::Parse(row.text, problems);
    EXPECT_EQ(problems.size(), row.problems) << row.what;
    EXPECT_EQ(map.Size(), row.kept.size()) << row.what;
    for (const auto& [position, com] : row.kept) EXPECT_EQ(map.Find(position), com) << row.what;
    EXPECT_FALSE(map.Changed()) << row.what;
    // What it writes reads back the same, without problems.
    std::vector<std::string> again;
    const ComMap back = ComMap::Parse(map.Format(), again);
    EXPECT_TRUE(again.empty()) << row.what;
    EXPECT_EQ(back.Size(), map.Size()) << row.what;
  }
}

TEST(ComMapAssign, KnownPositionsKeepTheirNumberNewOnesTakeTheLowestFreeOne) {
  std::vector<std::string> problems;
  ComMap map = ComMap::Parse("COM100 a\nCOM102 b\n", problems);
  struct Row {
    std::string position;
    std::set<int> reserved;
    std::optional<int> expected;
  };
  const std::vector<Row> rows = {
      {"b", {}, 102},          // known
      {"b", {102}, 102},       // known numbers stay even when the port table uses them
      {"c", {}, 101},          // the gap
      {"d", {103, 104}, 105},  // reserved numbers are skipped
      {"e", {}, 103},         {"bad position", {}, std::nullopt}, {"", {}, std::nullopt},
  };
  for (const auto& row : rows)
    EXPECT_EQ(map.Assign(row.position, row.reserved), row.expected) << row.position;
  EXPECT_TRUE(map.Changed());
  EXPECT_EQ(map.Size(), 5u);
}

TEST(ComMapAssign, AFullMapGivesNoNumber) {
  ComMap map;
  for (int n = tr52::kFirstMappedCom; n <= tr52::kLastMappedCom; ++n)
    ASSERT_EQ(map.Assign("p" + std::to_string(n), {}), n);
  EXPECT_EQ(map.Assign("one-more", {}), std::nullopt);
  EXPECT_EQ(map.Assign("p200", {}), 200);
}

class ComMapFileTest : public ::testing::Test {
 protected:
  std::string MapPath() const { return dir.File("state/com-map"); }
  std::vector<std::optional<int>> Assign(const std::vector<std::string>& positions,
                                         const std::set<int>& reserved = {}) {
    return tr52::AssignComNumbers(dir.File("state"), positions, reserved, notes);
  }
  TempDir dir;
  std::vector<std::string> notes;
};

TEST_F(ComMapFileTest, NumbersSurviveAcrossCallsAndTheFolderIsPrivate) {
  EXPECT_EQ(Assign({"usb-1-1", "usb-1-2"}), (std::vector<std::optional<int>>{100, 101}));
  EXPECT_EQ(Assign({"usb-1-3", "usb-1-2"}), (std::vector<std::optional<int>>{102, 101}));
  EXPECT_TRUE(notes.empty());
  EXPECT_EQ(Slurp(MapPath()),
            "# COM number per USB position, kept by the TR52 station\n"
            "COM100 usb-1-1\nCOM101 usb-1-2\nCOM102 usb-1-3\n");
  struct stat st;
  ASSERT_EQ(stat(dir.File("state").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // No stray temporary files.
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.File("state")))
    files += e.path().filename().string().rfind(".com-map", 0) == 0;
  EXPECT_EQ(files, 0u);
}

TEST_F(ComMapFileTest, ADamagedMapIsRebuiltFromItsSoundEntriesWithALogLine) {
  struct Row {
    const char* what;
    std::function<void(const std::string&)> damage;
    std::optional<int> keptNumberOfB;  // COM101 b was written before the damage
    const char* noteHas;
    bool replaced;  // the rebuilt map could be written in its place
  };
  const std::vector<Row> rows = {
      {"junk line",
       [](const std::string& p) { Spit(p, "COM101 b\n\x7f\x45LF garbage\nCOM300 c\n"); }, 101,
       "line 2", true},
      {"truncated in the middle of a line", [](const std::string& p) { Spit(p, "COM101 b\nCOM1"); },
       101, "line 2", true},
      {"oversized", [](const std::string& p) { Spit(p, std::string(70000, '#') + "\nCOM101 b\n"); },
       std::nullopt, "larger than", true},
      {"a folder in its place",
       [](const std::string& p) {
         std::filesystem::remove(p);
         std::filesystem::create_directory(p);
       },
       std::nullopt, "not a regular file", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::filesystem::remove_all(dir.File("state"));
    notes.clear();
    ASSERT_EQ(Assign({"a", "b"}), (std::vector<std::optional<int>>{100, 101}));
    row.damage(MapPath());
    const auto numbers = Assign({"b", "a"});
    ASSERT_FALSE(notes.empty());
    EXPECT_NE(notes[0].find("COM map " + MapPath() + " damaged ("), std::string::npos) << notes[0];
    EXPECT_NE(notes[0].find(row.noteHas), std::string::npos) << notes[0];
    if (row.keptNumberOfB) {
      EXPECT_EQ(numbers[0], *row.keptNumberOfB);
    }
    EXPECT_TRUE(numbers[0] && numbers[1] && *numbers[0] != *numbers[1]);
    if (row.replaced) {
      // Rebuilt: the file holds a sound map with both positions.
      std::vector<std::string> problems;
      const ComMap back = ComMap::Parse(Slurp(MapPath()), problems);
      EXPECT_TRUE(problems.empty());
      EXPECT_EQ(back.Find("b"), numbers[0]);
      EXPECT_EQ(back.Find("a"), numbers[1]);
    } else {
      EXPECT_NE(notes.back().find("not saved"), std::string::npos) << notes.back();
    }
  }
}

TEST_F(ComMapFileTest, ASymbolicLinkIsReplacedNotFollowed) {
  std::filesystem::create_directories(dir.File("state"));
  Spit(dir.File("elsewhere"), "COM100 x\n");
  ASSERT_EQ(symlink(dir.File("elsewhere").c_str(), MapPath().c_str()), 0);
  EXPECT_EQ(Assign({"a"}), (std::vector<std::optional<int>>{100}));
  ASSERT_FALSE(notes.empty());
  EXPECT_NE(notes[0].find("a symbolic link"), std::string::npos);
  EXPECT_EQ(Slurp(dir.File("elsewhere")), "COM100 x\n");
  EXPECT_FALSE(std::filesystem::is_symlink(MapPath()));
}

TEST_F(ComMapFileTest, AnUnwritableFolderStillGivesNumbersAndSaysSo) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  std::filesystem::create_directories(dir.File("state"));
  chmod(dir.File("state").c_str(), 0500);
  EXPECT_EQ(Assign({"a", "b"}), (std::vector<std::optional<int>>{100, 101}));
  chmod(dir.File("state").c_str(), 0700);
  ASSERT_FALSE(notes.empty());
  EXPECT_NE(notes.back().find("not saved"), std::string::npos) << notes.back();
}

TEST(ComMapDir, EnvironmentChoosesTheFolder) {
  struct Row {
    const char* mapDir;
    const char* stateHome;
    const char* home;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"/x/map", "/x/state", "/x/home", "/x/map"},
      {nullptr, "/x/state", "/x/home", "/x/state/tr52"},
      {"", "/x/state", "/x/home", "/x/state/tr52"},
      {nullptr, "relative", "/x/home", "/x/home/.local/state/tr52"},
      {nullptr, nullptr, "/x/home", "/x/home/.local/state/tr52"},
      {nullptr, nullptr, nullptr, ""},
  };
  for (const auto& row : rows) {
    ScopedEnv a("TR52_COM_MAP_DIR", row.mapDir), b("XDG_STATE_HOME", row.stateHome),
        c("HOME", row.home);
    EXPECT_EQ(tr52::ComMapDir(), row.expected);
  }
}

TEST(WithoutInterface, DropsOnlyATrailingConfigurationAndInterface) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"pci-0000:00:14.0-usb-0:2.1:1.0", "pci-0000:00:14.0-usb-0:2.1"},
      {"pci-0000:00:14.0-usb-0:2:1.12", "pci-0000:00:14.0-usb-0:2"},
      {"usb-1:1.2:1.0", "usb-1:1.2"},
      {"pci-0000:00:14.0-usb-0:2.1", "pci-0000:00:14.0-usb-0:2.1"},  // a device, no interface
      {"usb-1-1.2:1.0", "usb-1-1.2:1.0"},
      {"pci-0000:00:14.0-usb-0:2", "pci-0000:00:14.0-usb-0:2"},
      {"pci-0000:00:14.0", "pci-0000:00:14.0"},
      {"platform-serial8250", "platform-serial8250"},
      {"a:1.", "a:1."},
      {":1.0", ":1.0"},
      {"a:x.0", "a:x.0"},
  };
  for (const auto& [in, out] : rows) EXPECT_EQ(tr52::WithoutInterface(in), out) << in;
}

}  // namespace
}  // namespace tr52test
