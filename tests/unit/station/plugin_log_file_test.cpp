// Telling this run's plug-in log from the one an earlier run left beside the station.
#include "plugin_log_file.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_dir.h"

namespace station {
namespace {

std::string Header(unsigned pid, const std::string& exe = "/opt/st/station") {
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "[07:00:00:000]  : =============================================\r\n"
                "[07:00:00:000]  : Log is started on 08.12.2026, at 07:00:00:000, \r\n"
                "executable: %s (ProcID: 0x%08x), \r\ncompile time : Dec  8 2026 07:00:00\r\n"
                "[07:00:00:000]  : Version : \r\n",
                exe.c_str(), pid);
  return buf;
}

TEST(PluginLogFile, OnlyTheHeaderOfThisProcessMakesTheLogOurs) {
  const std::string line = "[07:00:01:000]  : [COM5] _NandDownload(DBL)\r\n";
  const std::vector<std::tuple<const char*, std::string, bool>> rows = {
      {"own header", Header(0x1234) + line, true},
      {"own header, nothing else yet", Header(0x1234), true},
      {"earlier run", Header(0x1233) + line, false},
      {"pid whose hex digits end like ours", Header(0x11234) + line, false},
      {"our pid only in a message line", Header(0x99) + "(ProcID: 0x00001234), \r\n", false},
      {"our pid in the executable's path", Header(0x99, "/x/(ProcID: 0x00001234), /st"), false},
      {"no header", line, false},
      {"empty", "", false},
  };
  for (const auto& [name, text, ours] : rows)
    EXPECT_EQ(LogWrittenByProcess(text, 0x1234), ours) << name;
}

TEST(PluginLogFile, NewDownloadsStartAtTheEndOfOwnLogOnly) {
  tr52test::TempDir dir;
  const std::string path = dir.File("station_log.txt");
  EXPECT_EQ(LogOffsetForNewDownload(path, 7), 0u);  // no log yet
  EXPECT_EQ(ReadOwnLog(path, 7), "");
  const std::string own = Header(7) + "[07:00:01:000]  : [COM5] _DloadMode()\r\n";
  std::ofstream(path, std::ios::binary) << own;
  EXPECT_EQ(LogOffsetForNewDownload(path, 7), own.size());
  EXPECT_EQ(ReadOwnLog(path, 7), own);
  // The log of an earlier run is re-created before this run's first line.
  EXPECT_EQ(LogOffsetForNewDownload(path, 8), 0u);
  EXPECT_EQ(ReadOwnLog(path, 8), "");
}

}  // namespace
}  // namespace station
