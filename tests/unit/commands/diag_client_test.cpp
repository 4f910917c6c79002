#include "commands/diag_client.h"

#include <gtest/gtest.h>

#include "command_fixture.h"
#include "support/scoped_clock.h"

namespace tr52test {
namespace {

using tr52::Protocol;

// A DIAG_VERNO_F answer with `model` (NUL-terminated) at offset 39.
Bytes VernoAnswer(const std::string& model, bool terminate = true) {
  Bytes a(39, 0x20);
  a[0] = 0x00;
  a.insert(a.end(), model.begin(), model.end());
  if (terminate) a.push_back(0);
  return a;
}

class DiagClientTest : public CommandTest {};

TEST_F(DiagClientTest, ModelNameIsTheTextAtOffset39AndSwitchesToDiagMode) {
  link.SetProtocolMode(Protocol::Dload);
  Bytes answer = VernoAnswer("TR52");
  answer.insert(answer.end(), {'J', 'U', 'N', 'K'});  // after the NUL: not part of the text
  AnswerAlways(answer);
  std::string model;
  ASSERT_TRUE(diag.GetModelName(model));
  EXPECT_EQ(model, "TR52");
  EXPECT_EQ(link.ProtocolMode(), Protocol::Diag);
  ASSERT_EQ(Requests().size(), 1u);
  EXPECT_EQ(Requests()[0], Bytes{0x00});
  EXPECT_TRUE(log.Has(Com(" >>Get Model Name [DIAG_VERNO_F]")));
  EXPECT_TRUE(log.Has(Com("  strModel = TR52")));
}

TEST_F(DiagClientTest, ModelTextIsNeverTakenFromAnEarlierLongerAnswer) {
  AnswerAlways(VernoAnswer("A-VERY-LONG-MODEL-NAME"));
  std::string model;
  ASSERT_TRUE(diag.GetModelName(model));
  // The second answer ends without a NUL: the text stops at the end of what arrived.
  AnswerAlways(VernoAnswer("TR52", false));
  ASSERT_TRUE(diag.GetModelName(model));
  EXPECT_EQ(model, "TR52");
  // An answer too short to reach offset 39 holds no model text: the command fails.
  AnswerAlways({0x00, 0x01, 0x02});
  EXPECT_FALSE(diag.GetModelName(model));
  EXPECT_EQ(model, "No Phone");
}

TEST_F(DiagClientTest, ModelNameOfASilentPhoneIsNoPhoneAfterTwoTransactions) {
  ScopedClock fast(1000);
  Silent();
  std::string model = "old";
  EXPECT_FALSE(diag.GetModelName(model));
  EXPECT_EQ(model, "No Phone");
  // The phone reads the last attempt on its own thread, maybe after the link gave up.
  EXPECT_TRUE(peer.WaitForRequests(6, 2000));
  EXPECT_EQ(peer.RequestCount(), 6u);  // two transactions of three attempts
  EXPECT_TRUE(log.Has(Com(" Get Model Name in Normal Booting  FAIL")));
}

TEST_F(DiagClientTest, PhoneInDownloadModeFailsTheModelNameWithSixBadConnModeLines) {
  AnswerAlways({0x03, 0x00, 0x06});
  std::string model;
  EXPECT_FALSE(diag.GetModelName(model));
  EXPECT_EQ(model, "No Phone");
  EXPECT_EQ(log.Count("BAD CONN MODE : Req(0) -> Rsp(3)"), 6u);
}

TEST_F(DiagClientTest, SecurityCodeRequestCarriesTheEightCodeBytes) {
  AnswerAlways({0x46, 0x00});
  ASSERT_TRUE(diag.SetSecurityCode(tr52::kPhoneSecurityCode));
  ASSERT_EQ(Requests().size(), 1u);
  EXPECT_EQ(Requests()[0], (Bytes{0x46, 0xA7, 0x5C, 0x19, 0xE2, 0x40, 0x8B, 0xD3, 0x6F}));
  EXPECT_TRUE(log.Has(Com(" >>Set Security Code [DIAG_PASSWORD_F]")));
}

TEST_F(DiagClientTest, SecurityCodeFailsWhenTheTransactionFails) {
  AnswerAlways({0x13});  // bad command: rejected at once
  EXPECT_FALSE(diag.SetSecurityCode(tr52::kPhoneSecurityCode));
  EXPECT_TRUE(log.Has(Com("   DIAG_PASSWORD_F FAILED")));
}

TEST_F(DiagClientTest, DloadModeSwitchAlwaysSucceeds) {
  AnswerAlways({0x3A});
  diag.ChangeDloadMode();
  ASSERT_EQ(Requests().size(), 1u);
  EXPECT_EQ(Requests()[0], Bytes{0x3A});
  link.Close();
  diag.ChangeDloadMode();
  tr52::DiagClient unattached;
  unattached.ChangeDloadMode();
}

TEST_F(DiagClientTest, OfflineAndResetModesAreSixteenBitValues) {
  AnswerAlways({0x29, 0x00, 0x00});
  EXPECT_TRUE(diag.ChangeOfflineMode(tr52::kDiagModeReset));
  EXPECT_TRUE(diag.ChangeOfflineMode(0x0201));
  ASSERT_EQ(Requests().size(), 2u);
  EXPECT_EQ(Requests()[0], (Bytes{0x29, 0x02, 0x00}));
  EXPECT_EQ(Requests()[1], (Bytes{0x29, 0x01, 0x02}));
  EXPECT_TRUE(log.Has(Com(" Change Offline Mode [DIAG_CONTROL_F/Mode = 2]")));

  AnswerAlways({0x14});
  EXPECT_FALSE(diag.ChangeOfflineMode(1));
  EXPECT_TRUE(log.Has(Com("  Fail(Mode:1)")));
}

Bytes BatteryAnswer(uint32_t status, uint8_t level) {
  return {0x4B,
          0xFC,
          0x04,
          0x00,
          static_cast<uint8_t>(status),
          0,
          0,
          static_cast<uint8_t>(status >> 24),
          level};
}

TEST_F(DiagClientTest, BatteryLevelIsASignedByteBehindAZeroStatus) {
  AnswerAlways(BatteryAnswer(0, 0xFB));
  int level = 100;
  ASSERT_TRUE(diag.GetBatteryLevel(level));
  EXPECT_EQ(level, -5);
  EXPECT_EQ(Requests()[0], (Bytes{0x4B, 0xFC, 0x04, 0x00}));

  AnswerAlways(BatteryAnswer(0x01000000, 77));  // any status byte counts
  level = 42;
  EXPECT_FALSE(diag.GetBatteryLevel(level));
  EXPECT_EQ(level, 42);  // a bad status leaves the level alone
}

TEST_F(DiagClientTest, BatteryLevelOfAMuteOrTersePhoneIsMinusOne) {
  AnswerAlways({0x4B, 0xFC, 0x04, 0x00, 0, 0, 0, 0});  // no level byte
  int level = 50;
  EXPECT_FALSE(diag.GetBatteryLevel(level));
  EXPECT_EQ(level, -1);

  AnswerAlways({0x13});
  level = 50;
  EXPECT_FALSE(diag.GetBatteryLevel(level));
  EXPECT_EQ(level, -1);
}

TEST_F(DiagClientTest, NvItemRangesAreFourLittleEndianWords) {
  AnswerAlways({0x4B, 0xFC, 0x09, 0x00, 0x00, 0x00, 0x29, 0x11, 0x29, 0x23, 0xDD, 0x23});
  tr52::NvRanges ranges;
  ASSERT_TRUE(diag.GetNvItemRanges(&ranges));
  EXPECT_EQ(Requests()[0], (Bytes{0x4B, 0xFC, 0x09, 0x00}));
  EXPECT_EQ(ranges.qctMin, 0);
  EXPECT_EQ(ranges.qctMax, 4393);
  EXPECT_EQ(ranges.zumMin, 9001);
  EXPECT_EQ(ranges.zumMax, 9181);
}

TEST_F(DiagClientTest, NvItemRangesFailureLeavesTheOutputAlone) {
  EXPECT_FALSE(diag.GetNvItemRanges(nullptr));
  EXPECT_EQ(peer.RequestCount(), 0u);

  tr52::NvRanges ranges = tr52::kDefaultNvRanges;
  AnswerAlways({0x4B, 0xFC, 0x09, 0x00, 0x05, 0x00});  // too short to hold the ranges
  EXPECT_FALSE(diag.GetNvItemRanges(&ranges));
  AnswerAlways({0x13});
  EXPECT_FALSE(diag.GetNvItemRanges(&ranges));
  EXPECT_EQ(ranges.qctMax, 4393);
  EXPECT_EQ(ranges.zumMax, 9181);
}

}  // namespace
}  // namespace tr52test
