#include "base/settings_file.h"

#include <gtest/gtest.h>
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
  settings_.Write(kSettingsSection, kPathBinKey, v259);
  EXPECT_EQ(boxes_.count, 0);
  EXPECT_EQ(settings_.Read(kSettingsSection, kPathBinKey, kSettingsDefault), v259);

  const std::string v260 = v259 + "X";
  settings_.Write(kSettingsSection, kPathBinKey, v260);
  EXPECT_EQ(boxes_.count, 1);
  EXPECT_EQ(boxes_.lastText,
            "WARNING:Too long data may cut in default size(260 byte or system dependent).");
  EXPECT_EQ(boxes_.lastType, win::MB_OK);
  // Written whole, read back cut to 259 characters.
  EXPECT_EQ(settings_.Read(kSettingsSection, kPathBinKey, kSettingsDefault), v259);

  settings_.Write(kSettingsSection, kPathBinKey, std::string(1000, 'q'));
  EXPECT_EQ(boxes_.count, 2);
}

TEST_F(SettingsTest, WriteKeepsTheOtherEntries) {
  Spit(settings_.Path(), "[Station]\nPorts=3,4\n[TR52]\nPATH_BIN=/old.dz\n");
  settings_.Write(kSettingsSection, kPathBinKey, "/new.dz");
  EXPECT_EQ(settings_.Read("station", "ports", ""), "3,4");
  EXPECT_EQ(settings_.Read(kSettingsSection, kPathBinKey, kSettingsDefault), "/new.dz");
}

TEST_F(SettingsTest, EveryReadGoesToTheFile) {
  settings_.Write(kSettingsSection, kPathBinKey, "/a.dz");
  EXPECT_EQ(settings_.Read(kSettingsSection, kPathBinKey, kSettingsDefault), "/a.dz");
  Spit(settings_.Path(), "[TR52]\nPATH_BIN=/edited.dz\n");
  EXPECT_EQ(settings_.Read(kSettingsSection, kPathBinKey, kSettingsDefault), "/edited.dz");
}

TEST(SettingsLocation, FileLivesBesideTheHostExecutable) {
  HostLayout layout;
  EXPECT_EQ(SettingsFile::PathBesideHost(), layout.File("host/ZUDP2.ini"));
  Spit(layout.File("host/ZUDP2.ini"), "[TR52]\nPATH_BIN=/from/host.dz\n");
  Spit(layout.File("plugin/ZUDP2.ini"), "[TR52]\nPATH_BIN=/from/plugin.dz\n");
  Spit(layout.File("cwd/ZUDP2.ini"), "[TR52]\nPATH_BIN=/from/cwd.dz\n");
  SettingsFile& s = Settings();
  const std::string old = s.Path();
  s.SetPath(SettingsFile::PathBesideHost());
  EXPECT_EQ(s.Read(kSettingsSection, kPathBinKey, kSettingsDefault), "/from/host.dz");
  s.Write(kSettingsSection, kPathBinKey, "/saved.dz");
  std::ifstream cwdFile(layout.File("cwd/ZUDP2.ini"));
  std::string cwdText((std::istreambuf_iterator<char>(cwdFile)), std::istreambuf_iterator<char>());
  EXPECT_EQ(cwdText.find("saved"), std::string::npos);
  EXPECT_EQ(s.Read(kSettingsSection, kPathBinKey, kSettingsDefault), "/saved.dz");
  s.SetPath(old);
  EXPECT_EQ(&Settings(), &s);
}

TEST(SettingsLocation, NoFileBesideTheHostReadsNullEvenWithOneInTheWorkingDirectory) {
  HostLayout layout;
  Spit(layout.File("cwd/ZUDP2.ini"), "[TR52]\nPATH_BIN=/from/cwd.dz\n");
  SettingsFile s;
  s.SetPath(SettingsFile::PathBesideHost());
  EXPECT_EQ(s.Read(kSettingsSection, kPathBinKey, kSettingsDefault), "NULL");
}
