// A pane the plug-in refuses: a batch run gives the port up and ends on its own; an interactive
// run keeps the port until the phone goes and serves the next phone on it, but never asks again
// for the phone that stays.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "core/options.h"
#include "core/run_exit_status.h"
#include "core/station.h"
#include "core/stop_control.h"
#include "support/temp_dir.h"

namespace station {
namespace {

// The plug-in's side: the phone's presence follows a script of polls ('P' present, '-' gone;
// the last letter holds), and every pane is refused.
struct RefusingPlugin {
  static inline std::string presence;
  static inline size_t polls = 0;
  static inline int paneRequests = 0;

  static int IsDisconnected(int) {
    const size_t at = polls < presence.size() ? polls : presence.size() - 1;
    ++polls;
    return presence[at] == 'P' ? 0 : 1;
  }
  static int IsConnected(int) { return 1; }
  static int OpenProgress(win::CWnd*, int, int) {
    ++paneRequests;
    return 0;
  }
  static int CloseProgress(win::CWnd*) { return 0; }
  static int ShowConfiguration(win::CWnd*) { return 0; }
  static int GetConfigInfo(char*, int) { return 0; }
};

TEST(StationRefusedPane, BatchGivesThePortUpInteractiveWaitsForTheNextPhone) {
  struct Row {
    const char* why;
    bool batch;
    std::string presence;
    int paneRequests;
    bool timedOut;  // the run went on until its time limit
    int status;
  };
  const Row rows[] = {
      {"batch: the port is given up, the run ends", true, "P", 1, false, kExitPortFailed},
      {"interactive: the phone that stays is not asked again", false, "P", 1, true,
       kExitPortFailed},
      {"interactive: the next phone gets its own pane", false, "PPPP----P", 2, true,
       kExitPortFailed},
  };
  const PluginOps ops{RefusingPlugin::IsDisconnected,    RefusingPlugin::IsConnected,
                      RefusingPlugin::OpenProgress,      RefusingPlugin::CloseProgress,
                      RefusingPlugin::ShowConfiguration, RefusingPlugin::GetConfigInfo};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.why);
    RefusingPlugin::presence = r.presence;
    RefusingPlugin::polls = 0;
    RefusingPlugin::paneRequests = 0;
    tr52test::TempDir dir;
    Options options;
    options.ports = {41};
    options.pollMs = 10;
    options.batch = r.batch;
    Station station(options, ops, dir.File("plugin.log"));
    ASSERT_TRUE(station.Init());
    StopControl stop(std::chrono::steady_clock::now() + std::chrono::milliseconds(600));
    EXPECT_EQ(station.Run(stop), r.status);
    EXPECT_EQ(RefusingPlugin::paneRequests, r.paneRequests);
    EXPECT_EQ(station.Report().timedOut, r.timedOut);
  }
}

}  // namespace
}  // namespace station
