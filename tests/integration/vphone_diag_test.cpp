// The host's DIAG commands against the virtual phone in normal mode, and the switch into
// download mode that makes the port vanish and come back under the same COM number.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "commands/diag_client.h"
#include "link/phone_link.h"
#include "support/scoped_clock.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "vphone/scenario.h"
#include "vphone/virtual_phone.h"

namespace {

using vphone::Mode;

constexpr int kCom = 63;
constexpr uint8_t kCode[8] = {0xA7, 0x5C, 0x19, 0xE2, 0x40, 0x8B, 0xD3, 0x6F};

class VphoneDiagTest : public ::testing::Test {
 protected:
  void TearDown() override { link.Close(); }
  std::unique_ptr<vphone::VirtualPhone> StartPhone(Mode mode, const std::string& scenario) {
    vphone::PhoneOptions o;
    o.com = kCom;
    o.startMode = mode;
    o.scenario = vphone::ParseScenario(scenario);
    auto phone = std::make_unique<vphone::VirtualPhone>(o);
    std::string error;
    EXPECT_TRUE(phone->Start(&error)) << error;
    EXPECT_TRUE(link.Open(kCom));
    diag.AttachLink(&link, nullptr);
    return phone;
  }

  tr52test::TempDir table;
  tr52test::ScopedEnv tableEnv_{"TR52_PORT_TABLE", table.Path()};  // restored after the test
  tr52test::ScopedClock clock{20.0};
  tr52::PhoneLink link;
  tr52::DiagClient diag;
};

TEST_F(VphoneDiagTest, NormalModeCommandsThenDownloadMode) {
  auto phone = StartPhone(Mode::Normal, "diag.battery_level = 42\ndiag.nv_ranges = 1 2 3 4\n");
  std::string model;
  ASSERT_TRUE(diag.GetModelName(model));
  EXPECT_EQ(model, "TR52");
  EXPECT_TRUE(diag.SetSecurityCode(kCode));
  EXPECT_TRUE(diag.ChangeOfflineMode(1));
  int level = 0;
  ASSERT_TRUE(diag.GetBatteryLevel(level));
  EXPECT_EQ(level, 42);
  tr52::NvRanges ranges{};
  ASSERT_TRUE(diag.GetNvItemRanges(&ranges));
  EXPECT_EQ(ranges.zumMax, 4);

  std::ostringstream state;
  phone->DumpState(state);
  EXPECT_NE(state.str().find("diag offline 1\n"), std::string::npos);
  EXPECT_NE(state.str().find("diag unlocked 1\n"), std::string::npos);

  diag.ChangeDloadMode();
  link.Close();
  ASSERT_TRUE(phone->WaitFor(true, Mode::Download, 10000));
  ASSERT_TRUE(link.Open(kCom));
  // A phone in download mode does not answer DIAG: the model name fails with "No Phone".
  EXPECT_FALSE(diag.GetModelName(model));
  EXPECT_EQ(model, "No Phone");
}

TEST_F(VphoneDiagTest, BatteryStatusAndResetFromDiag) {
  auto phone = StartPhone(Mode::Normal, "diag.battery_status = 1\n");
  int level = 7;
  EXPECT_FALSE(diag.GetBatteryLevel(level));
  EXPECT_EQ(level, 7);
  EXPECT_TRUE(diag.ChangeOfflineMode(2));  // reset: the port goes and comes back
  link.Close();
  ASSERT_TRUE(phone->WaitFor(false, Mode::Normal, 5000));
  ASSERT_TRUE(phone->WaitFor(true, Mode::Normal, 10000));
  EXPECT_EQ(phone->Boots(), 2);
}

}  // namespace
