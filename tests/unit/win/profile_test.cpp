#include "win/profile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

using namespace win;

namespace {

std::string ReadProfile(const std::string& file, const char* section, const char* key,
                        const char* def = "DEF", DWORD size = 260) {
  std::vector<char> buf(size + 8, 'Z');
  const DWORD n = GetPrivateProfileStringA(section, key, def, buf.data(), size, file.c_str());
  EXPECT_EQ(buf[n], '\0');
  return std::string(buf.data(), n);
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void Spit(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

TEST(Profile, MissingFileSectionOrKeyGivesTheDefault) {
  tr52test::TempDir dir;
  const std::string f = dir.File("a.ini");
  EXPECT_EQ(ReadProfile(f, "TR52", "PATH_BIN", "NULL"), "NULL");
  Spit(f, "[TR52]\nOTHER=1\n");
  EXPECT_EQ(ReadProfile(f, "TR52", "PATH_BIN", "NULL"), "NULL");
  EXPECT_EQ(ReadProfile(f, "NOPE", "OTHER", "NULL"), "NULL");
  EXPECT_EQ(ReadProfile(f, "TR52", "OTHER", nullptr), "1");
  EXPECT_EQ(ReadProfile(f, "TR52", "MISSING", nullptr), "");
}

TEST(Profile, ValuesAreCutAtSizeMinusOneAndAlwaysTerminated) {
  tr52test::TempDir dir;
  const std::string f = dir.File("a.ini");
  const std::string v259(259, 'a');
  const std::string v260 = std::string(259, 'b') + "c";
  ASSERT_TRUE(WritePrivateProfileStringA("TR52", "K259", v259.c_str(), f.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("TR52", "K260", v260.c_str(), f.c_str()));
  EXPECT_EQ(ReadProfile(f, "TR52", "K259"), v259);
  EXPECT_EQ(ReadProfile(f, "TR52", "K260"), std::string(259, 'b'));
  EXPECT_NE(Slurp(f).find(v260), std::string::npos);  // stored whole
  EXPECT_EQ(ReadProfile(f, "TR52", "K259", "", 4), "aaa");
  EXPECT_EQ(ReadProfile(f, "TR52", "K259", "", 1), "");
  EXPECT_EQ(ReadProfile(f, "TR52", "NONE", "defaultvalue", 4), "def");
  char untouched = 'Q';
  EXPECT_EQ(GetPrivateProfileStringA("TR52", "K259", "", &untouched, 0, f.c_str()), 0u);
  EXPECT_EQ(untouched, 'Q');
  EXPECT_EQ(GetPrivateProfileStringA("TR52", "K259", "", nullptr, 260, f.c_str()), 0u);
}

TEST(Profile, SectionAndKeyNamesAreCaseInsensitive) {
  tr52test::TempDir dir;
  const std::string f = dir.File("a.ini");
  Spit(f, "[tr52]\npath_bin=/x/y.dz\n");
  EXPECT_EQ(ReadProfile(f, "TR52", "PATH_BIN"), "/x/y.dz");
  ASSERT_TRUE(WritePrivateProfileStringA("Tr52", "Path_Bin", "/new.dz", f.c_str()));
  EXPECT_EQ(ReadProfile(f, "tr52", "path_bin"), "/new.dz");
  const std::string text = Slurp(f);
  EXPECT_EQ(text.find("[Tr52]"), std::string::npos);  // no second section
  EXPECT_EQ(text.find("/x/y.dz"), std::string::npos);
}

TEST(Profile, WritingKeepsOtherEntriesAndSections) {
  tr52test::TempDir dir;
  const std::string f = dir.File("a.ini");
  Spit(f, "[General]\nA=1\nB=two words\n[TR52]\nPATH_BIN=/old.dz\nKEEP=yes\n");
  ASSERT_TRUE(WritePrivateProfileStringA("TR52", "PATH_BIN", "/new path/p.dz", f.c_str()));
  EXPECT_EQ(ReadProfile(f, "General", "A"), "1");
  EXPECT_EQ(ReadProfile(f, "General", "B"), "two words");
  EXPECT_EQ(ReadProfile(f, "TR52", "KEEP"), "yes");
  EXPECT_EQ(ReadProfile(f, "TR52", "PATH_BIN"), "/new path/p.dz");
  EXPECT_NE(Slurp(f).find("PATH_BIN=/new path/p.dz"), std::string::npos);
  // Characters with a meaning elsewhere in the file come back as written.
  ASSERT_TRUE(WritePrivateProfileStringA("TR52", "ODD", "C:\\a;b#c=d [x].dz", f.c_str()));
  EXPECT_EQ(ReadProfile(f, "TR52", "ODD"), "C:\\a;b#c=d [x].dz");
  ASSERT_TRUE(WritePrivateProfileStringA("TR52", "EMPTY", "", f.c_str()));
  EXPECT_EQ(ReadProfile(f, "TR52", "EMPTY", "DEF"), "");
}

TEST(Profile, NullValueRemovesKeyAndNullKeyRemovesSection) {
  tr52test::TempDir dir;
  const std::string f = dir.File("a.ini");
  Spit(f, "[S]\nA=1\nB=2\n[T]\nC=3\n");
  ASSERT_TRUE(WritePrivateProfileStringA("S", "A", nullptr, f.c_str()));
  EXPECT_EQ(ReadProfile(f, "S", "A"), "DEF");
  EXPECT_EQ(ReadProfile(f, "S", "B"), "2");
  ASSERT_TRUE(WritePrivateProfileStringA("T", nullptr, nullptr, f.c_str()));
  EXPECT_EQ(ReadProfile(f, "T", "C"), "DEF");
  EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "A", "1", f.c_str()));
}

TEST(Profile, NameListsAreDoubleNulTerminated) {
  tr52test::TempDir dir;
  const std::string f = dir.File("a.ini");
  Spit(f, "[S]\nA=1\nBB=2\n[T]\n");
  char buf[32];
  const DWORD n = GetPrivateProfileStringA("S", nullptr, "", buf, sizeof buf, f.c_str());
  EXPECT_EQ(std::string(buf, n), std::string("A\0BB\0", 5));
  EXPECT_EQ(buf[n], '\0');
  const DWORD m = GetPrivateProfileStringA(nullptr, nullptr, "", buf, sizeof buf, f.c_str());
  EXPECT_EQ(std::string(buf, m), std::string("S\0T\0", 4));
}

// An entry that would not read back as itself, or would change another entry, is refused and
// the file stays as it was; anything else, bytes above 0x7F among them, is stored as given.
TEST(Profile, EntriesThatWouldNotReadBackAreRefused) {
  struct Row {
    const char* section;
    const char* key;
    std::string value;
    std::string why;  // empty: accepted
  };
  const Row rows[] = {
      {"TR52", "PATH_BIN", "/a.dz\nOTHER=evil", "the value holds the control character \\x0a"},
      {"TR52", "PATH_BIN", "/a\tb\x7f.dz", "the value holds the control character \\x09"},
      {"TR52", "PATH_BIN", std::string("/a\0b", 3), ""},  // a C string ends at the NUL
      {"TR52", "OTHER=x", "1", "the key holds '='"},
      {"TR52", ";OTHER", "1", "the key starts with ';'"},
      {"TR52", "[X]", "1", "the key starts with '['"},
      {"TR52", " OTHER", "1", "blank"},
      {"TR52", "", "1", "the key is empty"},
      {"TR52", "K\r", "1", "the key holds the control character \\x0d"},
      {"X]\n[TR52", "OTHER", "1", "the section name holds the control character \\x0a"},
      {"X]Y", "OTHER", "1", "the section name holds ']'"},
      {"TR52", "PATH_BIN", "/d\xc3\xa9j\xc3\xa0/\xb0\xa1.dz", ""},
      {"TR52", "PATH_BIN", "C:\\a;b#c=d [x] <<<y.dz", ""},
  };
  tr52test::TempDir dir;
  const std::string f = dir.File("a.ini");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.value);
    const std::string before = "[TR52]\r\nPATH_BIN=/old.dz\r\nOTHER=kept\r\n";
    Spit(f, before);
    std::string why = "untouched";
    const bool written =
        WritePrivateProfileStringA(row.section, row.key, row.value.c_str(), f.c_str(), &why);
    EXPECT_EQ(written, row.why.empty()) << why;
    if (row.why.empty()) {
      EXPECT_EQ(why, "");
      EXPECT_EQ(ReadProfile(f, row.section, row.key), row.value.c_str());
      EXPECT_EQ(ReadProfile(f, "TR52", "OTHER"), "kept");
    } else {
      EXPECT_NE(why.find(row.why), std::string::npos) << why;
      EXPECT_EQ(Slurp(f), before);
    }
  }
}

TEST(Profile, UnwritableFolderFailsWithoutCreatingAnything) {
  EXPECT_FALSE(WritePrivateProfileStringA("S", "A", "1", "/nonexistent-dir-tr52/a.ini"));
}

TEST(Profile, ConcurrentWritersLoseNoEntry) {
  tr52test::TempDir dir;
  const std::string f = dir.File("a.ini");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&f, t] {
      for (int i = 0; i < 25; ++i) {
        const std::string key = "K" + std::to_string(t) + "_" + std::to_string(i);
        EXPECT_TRUE(WritePrivateProfileStringA("S", key.c_str(), key.c_str(), f.c_str()));
        char buf[16];
        GetPrivateProfileStringA("S", key.c_str(), "", buf, sizeof buf, f.c_str());
      }
    });
  }
  for (auto& t : threads) t.join();
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 25; ++i) {
      const std::string key = "K" + std::to_string(t) + "_" + std::to_string(i);
      EXPECT_EQ(ReadProfile(f, "S", key.c_str()), key);
    }
}
