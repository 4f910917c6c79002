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

TEST(PluginPath, BesideTheProgramFirstThenTheInstalledLibraryFolder) {
  struct Row {
    const char* what;
    bool beside, installed;
    const char* want;  // relative to the test's root folder
  };
  const Row rows[] = {
      {"copied bin folder", true, false, "bin/TR52_091117_MP.so"},
      {"installed", false, true, "lib/tr52/TR52_091117_MP.so"},
      {"both: the copy wins", true, true, "bin/TR52_091117_MP.so"},
      {"neither: the first place looked", false, false, "bin/TR52_091117_MP.so"},
  };
  for (const Row& row : rows) {
    tr52test::TempDir root;
    fs::create_directories(root.File("bin"));
    fs::create_directories(root.File("lib/tr52"));
    if (row.beside) std::ofstream(root.File("bin/TR52_091117_MP.so")) << "module";
    if (row.installed) std::ofstream(root.File("lib/tr52/TR52_091117_MP.so")) << "module";
    EXPECT_EQ(PluginPathFor(root.File("bin/station")), root.File(row.want)) << row.what;
  }
}

}  // namespace
}  // namespace station
