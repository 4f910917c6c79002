#include "platform/folder_watch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "support/temp_dir.h"

namespace tr52 {
namespace {

// Each step is seen by the next look, and only when it concerns what the caller keeps (names
// ending in ".port" here) or the folder itself.
TEST(FolderWatch, TellsChangesOfRelevantEntriesAndOfTheFolder) {
  tr52test::TempDir root;
  const std::string dir = root.File("table");
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  FolderWatch watch;
  ASSERT_TRUE(watch.Watch(dir));
  const auto relevant = [](std::string_view name) { return name.ends_with(".port"); };
  struct Step {
    const char* what;
    std::function<void()> act;
    bool changed, watching;
  };
  const std::vector<Step> steps = {
      {"nothing", [] {}, false, true},
      {"an entry written", [&] { std::ofstream(dir + "/COM5.port") << "x"; }, true, true},
      {"another file written", [&] { std::ofstream(dir + "/notes.txt") << "x"; }, false, true},
      {"renamed into an entry's name",
       [&] { std::filesystem::rename(dir + "/notes.txt", dir + "/COM6.port"); }, true, true},
      {"an entry removed", [&] { unlink((dir + "/COM5.port").c_str()); }, true, true},
      {"the folder opened to the group", [&] { chmod(dir.c_str(), 0770); }, true, true},
      {"the folder removed", [&] { std::filesystem::remove_all(dir); }, true, false},
      {"a new folder of that name, not watched yet", [&] { mkdir(dir.c_str(), 0700); }, false,
       false},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.act();
    EXPECT_EQ(watch.Changed(relevant), step.changed);
    EXPECT_EQ(watch.Watching(), step.watching);
  }
  EXPECT_TRUE(watch.Watch(dir));
  // Neither a missing folder nor a symbolic link to one is watched.
  ASSERT_EQ(symlink(dir.c_str(), root.File("link").c_str()), 0);
  for (const char* name : {"missing", "link"}) {
    EXPECT_FALSE(watch.Watch(root.File(name))) << name;
    EXPECT_FALSE(watch.Watching()) << name;
  }
}

}  // namespace
}  // namespace tr52
