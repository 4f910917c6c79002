// Where the station finds its plug-in: beside itself (a bin folder copied anywhere), else in the
// private library folder of an installed station.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/plugin_module.h"
#include "support/temp_dir.h"

namespace station {
namespace {

namespace fs = std::filesystem;

// The plug-in lies in the private library folder, the desktop module in a folder below it.
TEST(PluginPath, BesideTheProgramFirstThenTheInstalledLibraryFolder) {
  struct Row {
    const char* what;
    bool desktop, beside, installed;
    const char* want;  // relative to the test's root folder
  };
  const Row rows[] = {
      {"copied bin folder", false, true, false, "bin/TR52_091117_MP.so"},
      {"installed", false, false, true, "lib/tr52/TR52_091117_MP.so"},
      {"both: the copy wins", false, true, true, "bin/TR52_091117_MP.so"},
      {"neither: the first place looked", false, false, false, "bin/TR52_091117_MP.so"},
      {"desktop, copied bin folder", true, true, false, "bin/tr52_station_desktop.so"},
      {"desktop, installed", true, false, true, "lib/tr52/desktop/tr52_station_desktop.so"},
  };
  for (const Row& row : rows) {
    tr52test::TempDir root;
    const std::string name = row.desktop ? "tr52_station_desktop.so" : "TR52_091117_MP.so";
    const std::string installed = row.desktop ? "lib/tr52/desktop/" : "lib/tr52/";
    fs::create_directories(root.File("bin"));
    fs::create_directories(root.File(installed));
    if (row.beside) std::ofstream(root.File("bin/" + name)) << "module";
    if (row.installed) std::ofstream(root.File(installed + name)) << "module";
    const std::string exe = root.File("bin/station");
    const std::string found =
        row.desktop ? LibraryPathFor(exe, name, kInstalledDesktopFolder) : PluginPathFor(exe);
    EXPECT_EQ(found, root.File(row.want)) << row.what;
  }
}

}  // namespace
}  // namespace station
