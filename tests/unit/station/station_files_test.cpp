// The files the station writes besides the plug-in: the package path in the settings file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "base/settings_file.h"
#include "core/package_setting.h"
#include "support/temp_dir.h"

namespace station {
namespace {

namespace fs = std::filesystem;

TEST(StationFiles, PackagePathIsSavedOnlyForAnExistingRegularFile) {
  tr52test::TempDir tmp;
  // Saved paths have their folders resolved: compare with the resolved temporary folder.
  const std::string real = fs::canonical(tmp.Path()).string();
  struct {
    std::string root;
    std::string Path() const { return root; }
    std::string File(const std::string& name) const { return root + "/" + name; }
  } dir{real};
  const std::string ini = dir.File("ZUDP2.ini");
  std::ofstream(dir.File("TR52.dz")) << "package";
  fs::create_directory(dir.File("folder.dz"));
  fs::create_symlink(dir.File("TR52.dz"), dir.File("link.dz"));
  // An existing file whose absolute path would come back cut from the settings.
  const std::string deep = dir.File(std::string(200, 'd'));
  fs::create_directory(deep);
  const std::string longPath = deep + "/" + std::string(100, 'p') + ".dz";
  std::ofstream(longPath) << "package";
  // "up/../TR52.dz" through a link names the package beside the link's target, not this one.
  fs::create_directories(dir.File("elsewhere/sub"));
  std::ofstream(dir.File("elsewhere/TR52.dz")) << "the other package";
  fs::create_directory_symlink(dir.File("elsewhere/sub"), dir.File("up"));
  // A folder whose name would write a second PATH_BIN line into the settings file.
  const std::string evil = dir.File("x\nPATH_BIN=") + "/tmp/evil.dz";
  fs::create_directories(fs::path(evil).parent_path());
  std::ofstream(evil) << "package";

  struct Row {
    const char* name;
    std::string package;
    bool ok;
    std::string saved;          // when ok
    std::string errorContains;  // when not
  };
  const std::vector<Row> rows = {
      {"absolute file", dir.File("TR52.dz"), true, dir.File("TR52.dz"), ""},
      {"dots in the path", dir.Path() + "/./folder.dz/../TR52.dz", true, dir.File("TR52.dz"), ""},
      {"symbolic link to a file", dir.File("link.dz"), true, dir.File("link.dz"), ""},
      {"dot-dot after a link", dir.File("up/../TR52.dz"), true, dir.File("elsewhere/TR52.dz"), ""},
      {"line break in the path", evil, false, "", "\\x0a (a line break)"},
      {"missing file", dir.File("none.dz"), false, "", "No such file"},
      {"folder", dir.File("folder.dz"), false, "", "not a regular file"},
      {"path too long for the settings", longPath, false, "", "at most 259"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    fs::remove(ini);
    std::string saved, error;
    EXPECT_EQ(SavePackagePath(ini, row.package, saved, error), row.ok) << error;
    tr52::SettingsFile settings;
    settings.SetPath(ini);
    const std::string stored = settings.Read("TR52", "PATH_BIN", "NULL");
    if (row.ok) {
      EXPECT_EQ(saved, row.saved);
      EXPECT_EQ(stored, row.saved);
    } else {
      EXPECT_EQ(stored, "NULL");
      EXPECT_FALSE(error.empty());
      EXPECT_NE(error.find(row.errorContains), std::string::npos) << error;
    }
  }

  // A relative path is saved absolute: the plug-in may open it from another folder.
  const fs::path before = fs::current_path();
  fs::current_path(dir.Path());
  std::string saved, error;
  EXPECT_TRUE(SavePackagePath(ini, "TR52.dz", saved, error)) << error;
  fs::current_path(before);
  EXPECT_EQ(saved, dir.File("TR52.dz"));

  // Other entries of the settings file stay.
  std::ofstream(ini) << "[OTHER]\nKEY=1\n[TR52]\nPATH_BIN=/old.dz\n";
  EXPECT_TRUE(SavePackagePath(ini, dir.File("TR52.dz"), saved, error)) << error;
  tr52::SettingsFile settings;
  settings.SetPath(ini);
  EXPECT_EQ(settings.Read("OTHER", "KEY", ""), "1");
  EXPECT_EQ(settings.Read("TR52", "PATH_BIN", ""), dir.File("TR52.dz"));

  // A settings file that cannot be written is reported, not taken as saved (its folder is a
  // regular file: unwritable for root too).
  std::ofstream(dir.File("not-a-folder")) << "x";
  EXPECT_FALSE(
      SavePackagePath(dir.File("not-a-folder/ZUDP2.ini"), dir.File("TR52.dz"), saved, error));
  EXPECT_NE(error.find("could not save"), std::string::npos) << error;
}

}  // namespace
}  // namespace station
