#include "link/com_map.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
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

constexpr int64_t kNow = 1700000000;  // 2023-11-14T22:13:20Z

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
      {"position with a slash", "COM101 ../etc\n", {}, 1},
      {"last seen", "COM100 a 2024-02-29T23:59:59Z\n", {{"a", 100}}, 0},
      {"a bad last seen keeps the number",
       "COM100 a b\nCOM101 c 2023-02-29T00:00:00Z\nCOM102 d 2024-01-01T00:00:00Z \n"
       "COM103 e 2024-01-01 00:00:00\nCOM104 f \n",
       {{"a", 100}, {"c", 101}, {"d", 102}, {"e", 103}, {"f", 104}},
       5},
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
  ComMap map = ComMap::Parse("COM100 a\nCOM102 b 2024-01-01T00:00:00Z\n", problems);
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
    EXPECT_EQ(map.Assign(row.position, row.reserved, {}, kNow).com, row.expected) << row.position;
  EXPECT_TRUE(map.Changed());
  EXPECT_EQ(map.Size(), 5u);
  // Every position given a number is seen now (b was seen long before); a was not asked for.
  for (const char* position : {"b", "c", "d", "e"})
    EXPECT_EQ(map.Lookup(position)->lastSeen, kNow) << position;
  EXPECT_EQ(map.Lookup("a")->lastSeen, 0);
}

// A full map: the new position gets the number of the position seen longest ago among those
// that may lose theirs, and that one is gone from the map.
TEST(ComMapAssign, AFullMapRecyclesTheNumberOfThePositionSeenLongestAgo) {
  struct Row {
    const char* what;
    std::map<int, int64_t> seenAgo;  // number -> seconds before kNow (-1: unknown)
    std::set<std::string> keep;
    std::set<int> reserved;
    std::optional<int> expected;
    int64_t othersAgo = 86400;
  };
  const std::vector<Row> rows = {
      {"the oldest", {{130, 3 * 86400}, {140, 2 * 86400}}, {}, {}, 130},
      {"an unknown time is the oldest", {{130, 3 * 86400}, {150, -1}}, {}, {}, 150},
      {"the lower number among equals", {}, {}, {}, 100},
      {"present positions keep theirs", {{130, 3 * 86400}}, {"p130", "p100"}, {}, 101},
      {"reserved numbers are not given", {{130, 3 * 86400}}, {}, {130}, 100},
      {"seen minutes ago: kept", {{100, 60}}, {}, {}, 101},
      {"none seen long enough ago", {}, {}, {}, std::nullopt, tr52::kComMapRecycleAfter - 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::string text;
    for (int n = tr52::kFirstMappedCom; n <= tr52::kLastMappedCom; ++n) {
      const int64_t ago = row.seenAgo.count(n) ? row.seenAgo.at(n) : row.othersAgo;
      text += "COM" + std::to_string(n) + " p" + std::to_string(n) +
              (ago < 0 ? "" : " " + tr52::FormatUtcStamp(kNow - ago)) + "\n";
    }
    std::vector<std::string> problems;
    ComMap map = ComMap::Parse(text, problems);
    ASSERT_TRUE(problems.empty()) << problems[0];
    const ComMap::Assignment given = map.Assign("new", row.reserved, row.keep, kNow);
    EXPECT_EQ(given.com, row.expected);
    if (!row.expected) continue;
    const std::string old = "p" + std::to_string(*row.expected);
    EXPECT_EQ(given.recycledFrom, old);
    EXPECT_EQ(map.Find(old), std::nullopt);
    EXPECT_EQ(map.Find("new"), row.expected);
    EXPECT_EQ(map.Size(), 156u);
  }
}

TEST(UtcStamp, ReadsOnlyWhatItWrites) {
  const std::vector<std::pair<std::string, std::optional<int64_t>>> rows = {
      {"1970-01-01T00:00:01Z", 1},
      {"2024-02-29T12:34:56Z", 1709210096},
      {"2023-02-29T12:34:56Z", std::nullopt},
      {"2024-04-31T00:00:00Z", std::nullopt},
      {"2024-13-01T00:00:00Z", std::nullopt},
      {"2024-01-01T24:00:00Z", std::nullopt},
      {"2024-01-01T00:00:60Z", std::nullopt},
      {"1969-12-31T23:59:59Z", std::nullopt},
      {"2024-01-01T00:00:00", std::nullopt},
      {"2024-01-01 00:00:00Z", std::nullopt},
      {"+024-01-01T00:00:00Z", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, seconds] : rows) {
    EXPECT_EQ(tr52::ParseUtcStamp(text), seconds) << text;
    if (seconds) {
      EXPECT_EQ(tr52::FormatUtcStamp(*seconds), text);
    }
  }
}

class ComMapFileTest : public ::testing::Test {
 protected:
  std::string MapPath() const { return dir.File("state/com-map"); }
  std::vector<std::optional<int>> Assign(const std::vector<std::string>& positions,
                                         const std::set<int>& reserved = {}, int64_t now = kNow) {
    tr52::ComMapUpdate update;
    update.present = positions;
    update.reserved = reserved;
    update.now = now;
    update.lockWaitMs = 20;
    return tr52::AssignComNumbers(dir.File("state"), update, notes);
  }
  TempDir dir;
  std::vector<std::string> notes;
};

TEST_F(ComMapFileTest, NumbersSurviveAcrossCallsAndTheFolderIsPrivate) {
  EXPECT_EQ(Assign({"usb-1-1", "usb-1-2"}), (std::vector<std::optional<int>>{100, 101}));
  EXPECT_EQ(Assign({"usb-1-3", "usb-1-2"}), (std::vector<std::optional<int>>{102, 101}));
  EXPECT_TRUE(notes.empty());
  EXPECT_EQ(Slurp(MapPath()),
            "# COM number per USB position and when it was last seen (UTC), kept by the TR52 "
            "station\nCOM100 usb-1-1 2023-11-14T22:13:20Z\nCOM101 usb-1-2 2023-11-14T22:13:20Z\n"
            "COM102 usb-1-3 2023-11-14T22:13:20Z\n");
  struct stat st;
  ASSERT_EQ(stat(dir.File("state").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // No stray temporary files.
  std::set<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir.File("state")))
    files.insert(e.path().filename().string());
  EXPECT_EQ(files, (std::set<std::string>{"com-map", "com-map.lock"}));
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

// A full map of positions p100..p255, each seen `ago` seconds before kNow, p120 `oldest` ago.
std::string FullMap(int64_t ago, int64_t oldest) {
  std::string text;
  for (int n = tr52::kFirstMappedCom; n <= tr52::kLastMappedCom; ++n)
    text += "COM" + std::to_string(n) + " p" + std::to_string(n) + " " +
            tr52::FormatUtcStamp(kNow - (n == 120 ? oldest : ago)) + "\n";
  return text;
}

// What a listing does with the map file it finds: an older map, a full one, one whose lock
// another process keeps.
TEST_F(ComMapFileTest, MapsInEveryStateGiveNumbersAndSayWhatHappened) {
  struct Row {
    const char* what;
    std::string before;
    bool lockedElsewhere;
    std::vector<std::string> positions;
    std::vector<std::optional<int>> expected;
    std::string note;                   // the one note, or empty for none
    std::vector<std::string> afterHas;  // lines of the map afterwards; empty: unchanged
  };
  const std::string seenNow = " 2023-11-14T22:13:20Z";
  const std::vector<Row> rows = {
      {"a map without times keeps its numbers and gains them where seen",
       "COM100 a\nCOM105 b\n",
       false,
       {"b", "c"},
       {105, 101},
       "",
       {"COM100 a\n", "COM101 c" + seenNow + "\n", "COM105 b" + seenNow + "\n"}},
      {"a full map gives the number of the position seen longest ago and says both",
       FullMap(86400, 3 * 86400),
       false,
       {"new", "p130"},
       {120, 130},
       "COM map full: COM120 goes to new, taken from p120 (last seen 2023-11-11T22:13:20Z)",
       {"COM120 new" + seenNow + "\n", "COM130 p130" + seenNow + "\n"}},
      {"a full map of recent positions gives none and says so",
       FullMap(60, 60),
       false,
       {"new"},
       {std::nullopt},
       "COM map full: no COM number for new: COM100 to COM255 all belong to the port table or "
       "to ports seen in the last 10 minutes",
       {}},
      {"a lock kept elsewhere: numbers from the map as read, nothing saved",
       "COM100 a\n",
       true,
       {"a", "b"},
       {100, 101},
       "COM map " + MapPath() +
           ": another process held its lock for more than 20 ms; COM numbers are given from the "
           "map as read, and it is not saved",
       {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::filesystem::remove_all(dir.File("state"));
    std::filesystem::create_directories(dir.File("state"));
    Spit(MapPath(), row.before);
    const int holder = open(dir.File("state/com-map.lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(holder, 0);
    if (row.lockedElsewhere) {
      ASSERT_EQ(flock(holder, LOCK_EX), 0);
    }
    notes.clear();
    EXPECT_EQ(Assign(row.positions), row.expected);
    close(holder);
    EXPECT_EQ(notes,
              row.note.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.note});
    const std::string after = Slurp(MapPath());
    if (row.afterHas.empty()) {
      EXPECT_EQ(after, row.before);
    }
    for (const std::string& line : row.afterHas)
      EXPECT_NE(after.find(line), std::string::npos) << line << " not in\n" << after;
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
