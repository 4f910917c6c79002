// The files the station writes or reads besides the plug-in: the run record (replaced in one
// step), the package path in the settings file, and the image sizes of a package.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "atomic_file.h"
#include "base/settings_file.h"
#include "dz_writer.h"
#include "package/image_store.h"
#include "package_images.h"
#include "package_setting.h"
#include "support/temp_dir.h"

namespace station {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Files of a folder other than `except`.
std::vector<std::string> OtherFiles(const std::string& dir, const std::string& except) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename() != except) names.push_back(e.path().filename().string());
  return names;
}

TEST(StationFiles, RunRecordReplacesTheFileWholeOrLeavesItAlone) {
  tr52test::TempDir dir;
  const std::string path = dir.File("run.json");
  std::string error;
  // New file, then a replacement of a longer one by a shorter one.
  ASSERT_TRUE(WriteFileAtomically(path, std::string(5000, 'x'), error)) << error;
  ASSERT_TRUE(WriteFileAtomically(path, "{}\n", error)) << error;
  EXPECT_EQ(ReadFile(path), "{}\n");
  EXPECT_TRUE(OtherFiles(dir.Path(), "run.json").empty());
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);

  // A target that cannot be replaced (a folder) or a folder that does not exist: error, the
  // old content stays, no temporary file is left behind.
  fs::create_directory(dir.File("taken"));
  EXPECT_FALSE(WriteFileAtomically(dir.File("taken"), "{}", error));
  EXPECT_NE(error.find("taken"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_directory(dir.File("taken")));
  EXPECT_FALSE(WriteFileAtomically(dir.File("missing/run.json"), "{}", error));
  std::vector<std::string> left = OtherFiles(dir.Path(), "run.json");
  EXPECT_EQ(left, std::vector<std::string>{"taken"});
}

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

TEST(StationFiles, PackageImageSizesComeFromTheSubHeaders) {
  tr52test::TempDir dir;
  std::vector<std::vector<uint8_t>> data = {
      std::vector<uint8_t>(70000, 1), std::vector<uint8_t>(512, 2), std::vector<uint8_t>(1, 3)};
  tr52::DzWriter writer;
  writer.Add({tr52::IMAGE_AMSS, "AMSS", true, data[0]});
  writer.Add({tr52::IMAGE_PARTITION_TBL, "PARTITION TBL", false, data[1]});
  writer.Add({tr52::IMAGE_OSBL, "OSBL", false, data[2]});
  const std::string path = dir.File("p.dz");
  ASSERT_TRUE(writer.Write(path)) << writer.Error();

  std::string error;
  const auto sizes = PackageImageSizes(path, error);
  ASSERT_TRUE(sizes) << error;
  EXPECT_EQ(*sizes, (std::map<std::string, uint64_t>{
                        {"AMSS", 70000}, {"PARTITION TBL", 512}, {"OSBL", 1}}));

  std::ofstream(dir.File("bad.dz")) << "not a package";
  EXPECT_FALSE(PackageImageSizes(dir.File("bad.dz"), error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(PackageImageSizes(dir.File("none.dz"), error));
}

}  // namespace
}  // namespace station
