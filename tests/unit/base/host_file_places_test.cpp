// The settings file and the log of a host follow the host's folder: beside a host whose folder
// is its own, in the user's folders for an installed one.
#include <gtest/gtest.h>

#include "base/process_log.h"
#include "base/settings_file.h"
#include "platform/process_info.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace tr52 {
namespace {

TEST(HostFilePlaces, BesideAHostInItsOwnFolderElseInTheUsersFolders) {
  tr52test::TempDir dir;
  tr52test::ScopedEnv config("XDG_CONFIG_HOME", dir.File("config"));
  tr52test::ScopedEnv state("XDG_STATE_HOME", dir.File("state"));
  struct Row {
    std::string host;
    std::string settings, log;
  };
  const std::vector<Row> rows = {
      {dir.File("station"), dir.File("ZUDP2.ini"), dir.File("station_log.txt")},
      {"/usr/bin/station", dir.File("config/tr52/ZUDP2.ini"),
       dir.File("state/tr52/station_log.txt")},
      {"/nonexistent-tr52/bin/host.exe", dir.File("config/tr52/ZUDP2.ini"),
       dir.File("state/tr52/host_log.txt")},
  };
  for (const Row& row : rows) {
    SetExecutablePathOverride(row.host);
    EXPECT_EQ(SettingsFile::PathBesideHost(), row.settings) << row.host;
    EXPECT_EQ(ProcessLog::DefaultPath(), row.log) << row.host;
  }
  SetExecutablePathOverride("");
}

}  // namespace
}  // namespace tr52
