#include "base/settings_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/process_info.h"
#include "support/temp_dir.h"
#include "win/window.h"

using namespace tr52;

namespace {

class BoxCounter : public win::FrontEnd {
 public:
  int ShowMessageBox(win::HWND, const std::string& text, const std::string&,
                     win::UINT type) override {
    ++count;
    lastText = text;
    lastType = type;
    return win::IDOK;
  }
  int count = 0;
  std::string lastText;
  win::UINT lastType = 99;
};

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    win::SetFrontEnd(&boxes_);
    settings_.SetPath(dir_.File(kSettingsFileName));
  }
  void TearDown() override { win::SetFrontEnd(nullptr); }
  void Save(const std::string& value) {
    std::string error;
    ASSERT_TRUE(settings_.Write(kSettingsSection, kPathBinKey, value, error)) << error;
  }
  tr52test::TempDir dir_;
  BoxCounter boxes_;
  SettingsFile settings_;
};

void Spit(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

// Stands in for a host executable elsewhere and a working directory elsewhere, and restores
// both afterwards.
class HostLayout {
 public:
  HostLayout() {
    std::filesystem::create_directories(dir_.File("host"));
    std::filesystem::create_directories(dir_.File("plugin"));
    std::filesystem::create_directories(dir_.File("cwd"));
    oldCwd_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.File("cwd"));
    SetExecutablePathOverride(dir_.File("host/station"));
  }
  ~HostLayout() {
    SetExecutablePathOverride("");
    std::filesystem::current_path(oldCwd_);
  }
  std::string File(const std::string& name) const { return dir_.File(name); }

 private:
  tr52test::TempDir dir_;
  std::filesystem::path oldCwd_;
};

}  // namespace

TEST_F(SettingsTest, MissingFileOrKeyReadsNull) {
  EXPECT_EQ(settings_.Read(kSettingsSection, kPathBinKey, kSettingsDefault), "NULL");
  Spit(settings_.Path(), "[TR52]\nOTHER=1\n");
  EXPECT_EQ(settings_.Read(kSettingsSection, kPathBinKey, kSettingsDefault), "NULL");
  SettingsFile noPath;
  EXPECT_EQ(noPath.Read(kSettingsSection, kPathBinKey, kSettingsDefault), "NULL");
}

TEST_F(SettingsTest, WarningAt260CharactersNotAt259AndValueWrittenAnyway) {
  const std::string v259 = "/" + std::string(258, 'p');
  Save(v259);
  EXPECT_EQ(boxes_.count, 0);
  EXPECT_EQ(settings_.Read(kSettingsSection, kPathBinKey, kSettingsDefault), v259);

  const std::string v260 = v259 + "X";
  Save(v260);
  EXPECT_EQ(boxes_.count, 1);
  EXPECT_EQ(boxes_.lastText,
            "WARNING:Too long data may cut in default size(260 byte or system dependent).");
  EXPECT_EQ(boxes_.lastType, win::MB_OK);
  // Written whole, read back cut to 259 characters.
  EXPECT_EQ(settings_.Read(kSettingsSection, kPathBinKey, kSettingsDefault), v259);

  Save(std::string(1000, 'q'));
  EXPECT_EQ(boxes_.count, 2);
}

TEST_F(SettingsTest, WriteKeepsTheOtherEntries) {
  Spit(settings_.Path(), "[Station]\nPorts=3,4\n[TR52]\nPATH_BIN=/old.dz\n");
  Save("/new.dz");
  EXPECT_EQ(settings_.Read("station", "ports", ""), "3,4");
  EXPECT_EQ(settings_.Read(kSettingsSection, kPathBinKey, kSettingsDefault), "/new.dz");
}

TEST_F(SettingsTest, EveryReadGoesToTheFile) {
  Save("/a.dz");
  EXPECT_EQ(settings_.Read(kSettingsSection, kPathBinKey, kSettingsDefault), "/a.dz");
  Spit(settings_.Path(), "[TR52]\nPATH_BIN=/edited.dz\n");
  EXPECT_EQ(settings_.Read(kSettingsSection, kPathBinKey, kSettingsDefault), "/edited.dz");
}

// A write that cannot be made leaves the file byte for byte as it was, says why and shows no
// box: a value with a control character (a line break would start an entry of its own), a file
// that exists but cannot be read (taken as empty, the write would drop its other entries), a
// folder that takes no new file, a disk that takes no more.
TEST_F(SettingsTest, AFailedWriteLeavesTheFileAsItWasAndSaysWhy) {
  enum class Fault { kNone, kUnreadable, kTooLarge, kFolderReadOnly, kDiskFull };
  struct Row {
    const char* name;
    std::string value;
    Fault fault;
    std::string why;  // part of the error
  };
  const std::string path = "/new/TR52.dz";
  const Row rows[] = {
      {"line break", path + "\nPATH_BIN=/tmp/evil.dz", Fault::kNone, "\\x0a (a line break)"},
      {"escape", "/a\x1b[2Jb.dz", Fault::kNone, "\\x1b"},
      {"unreadable file", path, Fault::kUnreadable, "Permission denied"},
      {"file too large to be a settings file", path, Fault::kTooLarge, "too large"},
      {"folder takes no new file", path, Fault::kFolderReadOnly, "cannot create a temporary file"},
      {"disk takes no more", path + std::string(200, 'x'), Fault::kDiskFull, "File too large"},
  };
  const std::string before = "[Station]\nPorts=3,4\n[TR52]\nPATH_BIN=/old.dz\n";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const bool root = geteuid() == 0;
    if (root && (row.fault == Fault::kUnreadable || row.fault == Fault::kFolderReadOnly)) continue;
    Spit(settings_.Path(), before);
    if (row.fault == Fault::kUnreadable) chmod(settings_.Path().c_str(), 0);
    if (row.fault == Fault::kTooLarge) std::filesystem::resize_file(settings_.Path(), 64 << 20);
    if (row.fault == Fault::kFolderReadOnly) chmod(dir_.Path().c_str(), 0500);
    struct sigaction ignore {
    }, previous{};
    rlimit old{};
    if (row.fault == Fault::kDiskFull) {  // room for the old file, not for the new one
      ignore.sa_handler = SIG_IGN;
      sigaction(SIGXFSZ, &ignore, &previous);
      getrlimit(RLIMIT_FSIZE, &old);
      rlimit small = old;
      small.rlim_cur = before.size() + 20;
      setrlimit(RLIMIT_FSIZE, &small);
    }
    std::string error;
    const bool written = settings_.Write(kSettingsSection, kPathBinKey, row.value, error);
    if (row.fault == Fault::kDiskFull) {
      setrlimit(RLIMIT_FSIZE, &old);
      sigaction(SIGXFSZ, &previous, nullptr);
    }
    chmod(dir_.Path().c_str(), 0700);
    chmod(settings_.Path().c_str(), 0600);
    EXPECT_FALSE(written);
    EXPECT_NE(error.find(row.why), std::string::npos) << error;
    if (row.fault == Fault::kTooLarge)
      std::filesystem::resize_file(settings_.Path(), before.size());
    std::ifstream in(settings_.Path());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()),
                            std::filesystem::directory_iterator()),
              1)
        << "a temporary file was left";
  }
  EXPECT_EQ(boxes_.count, 0);
}

TEST(SettingsLocation, FileLivesBesideTheHostExecutable) {
  HostLayout layout;
  EXPECT_EQ(SettingsFile::PathBesideHost(), layout.File("host/ZUDP2.ini"));
  Spit(layout.File("host/ZUDP2.ini"), "[TR52]\nPATH_BIN=/from/host.dz\n");
  Spit(layout.File("plugin/ZUDP2.ini"), "[TR52]\nPATH_BIN=/from/plugin.dz\n");
  Spit(layout.File("cwd/ZUDP2.ini"), "[TR52]\nPATH_BIN=/from/cwd.dz\n");
  SettingsFile s(SettingsFile::PathBesideHost());
  EXPECT_EQ(s.Read(kSettingsSection, kPathBinKey, kSettingsDefault), "/from/host.dz");
  std::string error;
  ASSERT_TRUE(s.Write(kSettingsSection, kPathBinKey, "/saved.dz", error)) << error;
  std::ifstream cwdFile(layout.File("cwd/ZUDP2.ini"));
  std::string cwdText((std::istreambuf_iterator<char>(cwdFile)), std::istreambuf_iterator<char>());
  EXPECT_EQ(cwdText.find("saved"), std::string::npos);
  EXPECT_EQ(s.Read(kSettingsSection, kPathBinKey, kSettingsDefault), "/saved.dz");
}

TEST(SettingsLocation, NoFileBesideTheHostReadsNullEvenWithOneInTheWorkingDirectory) {
  HostLayout layout;
  Spit(layout.File("cwd/ZUDP2.ini"), "[TR52]\nPATH_BIN=/from/cwd.dz\n");
  SettingsFile s;
  s.SetPath(SettingsFile::PathBesideHost());
  EXPECT_EQ(s.Read(kSettingsSection, kPathBinKey, kSettingsDefault), "NULL");
}
