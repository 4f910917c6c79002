#include "link/phone_link.h"
#include "package/image_catalogue.h"
#include "platform/clock.h"
#include "session/download_steps.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "platform/port_table.h"
#include "support/log_capture.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace tr52 {
namespace {

double ScaleFor(const char* value) {
  tr52test::ScopedEnv scale("TR52_TIME_SCALE", value);  // nullptr: no such variable
  return WaitScaleFromEnvironment();
}

TEST(WaitScale, OnlyNumbersAboveOneCompressTheNamedWaits) {
  EXPECT_EQ(ScaleFor("50"), 50.0);
  EXPECT_EQ(ScaleFor("2.5"), 2.5);
  EXPECT_EQ(ScaleFor(nullptr), 0.0);
  EXPECT_EQ(ScaleFor(""), 0.0);
  EXPECT_EQ(ScaleFor("1"), 0.0);
  EXPECT_EQ(ScaleFor("0.5"), 0.0);
  EXPECT_EQ(ScaleFor("-20"), 0.0);
  EXPECT_EQ(ScaleFor("fast"), 0.0);
  EXPECT_EQ(ScaleFor("20x"), 0.0);
  EXPECT_EQ(ScaleFor("nan"), 0.0);
}

// The scale reaches only ports of the port table (virtual phones, test peers): a real phone's
// reboot waits stay real. The first port refused a set scale is said in the log, once.
TEST(WaitScale, AppliesOnlyToPortsOfThePortTable) {
  tr52test::TempDir table;
  tr52test::ScopedEnv tableEnv("TR52_PORT_TABLE", table.Path());
  const std::string node = table.File("pts-node");  // a declared port is present while its node is
  std::ofstream(node) << "";
  ASSERT_TRUE(DeclarePort(7, node, "ZUM Mobile USB Serial Port (COM7)"));
  tr52test::LogCapture log;
  struct Row {
    const char* scale;  // TR52_TIME_SCALE (nullptr: unset)
    int port;
    double expected;
  };
  const Row rows[] = {
      {"20", 7, 20.0},      // declared
      {"20", 105, 0.0},     // a USB port: said in the log
      {"20", 106, 0.0},     // another: not said again
      {"20", 105, 0.0},     // the same again: not said again
      {nullptr, 105, 0.0},  // no scale asked: nothing to say
      {nullptr, 7, 0.0},
  };
  for (const Row& row : rows) {
    tr52test::ScopedEnv scale("TR52_TIME_SCALE", row.scale);
    EXPECT_EQ(WaitScaleForPort(row.port), row.expected) << "COM" << row.port;
  }
  EXPECT_TRUE(WithdrawPort(7));
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                             "[COM105] time scale 20 ignored: only ports of the port table wait "
                             "shorter"}));
}

// Records every sleep instead of sleeping.
class RecordingClock : public Clock {
 public:
  uint64_t NowMs() override { return now_; }
  void SleepMs(uint64_t ms) override {
    slept.push_back(ms);
    now_ += ms;
  }
  std::vector<uint64_t> slept;

 private:
  uint64_t now_ = 0;
};

TEST(WaitScale, CompressesTheNamedWaitsAndRetryPausesByTheSessionScale) {
  struct Row {
    double scale;
    const NamedWait* wait;  // null: a one-second retry pause
    uint64_t expectedMs;
  };
  const Row rows[] = {
      {1.0, &kWaitEmergencyReset, 40000},
      {1.0, &kWaitReset, 60000},
      {20.0, &kWaitEmergencyReset, 2000},
      {20.0, &kWaitDbCreation, 3000},
      {20.0, nullptr, 50},
      {1.0, nullptr, 1000},
      {0.5, &kWaitReset, 60000},  // below 1 never stretches a wait
  };
  for (const Row& row : rows) {
    RecordingClock clock;
    SetClock(&clock);
    DownloadJob job;
    job.waitScale = row.scale;
    RunState run;
    ImageCatalogue images;
    StepContext ctx{nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, job, run, images};
    if (row.wait)
      Wait(ctx, *row.wait);
    else
      RetryPause(ctx, 1000);
    SetClock(nullptr);
    EXPECT_EQ(std::accumulate(clock.slept.begin(), clock.slept.end(), uint64_t{0}), row.expectedMs)
        << "scale " << row.scale << " " << (row.wait ? row.wait->name : "retry pause");
  }
}

TEST(WaitScale, AnAbortedLinkEndsANamedWait) {
  RecordingClock clock;
  SetClock(&clock);
  PhoneLink link;
  const DownloadJob job;
  RunState run;
  ImageCatalogue images;
  StepContext ctx{&link, nullptr, nullptr, nullptr, nullptr, nullptr, job, run, images};
  link.Abort();
  Wait(ctx, kWaitReset);
  SetClock(nullptr);
  EXPECT_TRUE(clock.slept.empty());
}

}  // namespace
}  // namespace tr52
