#include "vphone/diag_responder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "vphone/scenario.h"

namespace vphone {
namespace {

Reply Ask(Responder& r, Bytes req, Mode mode = Mode::Normal) {
  Reply reply;
  EXPECT_TRUE(r.Handle(mode, req, reply)) << "request not handled";
  return reply;
}

Bytes PasswordRequest(std::array<uint8_t, 8> code) {
  Bytes req(1 + code.size(), 0x46);
  std::copy(code.begin(), code.end(), req.begin() + 1);
  return req;
}

TEST(DiagResponder, VersionAnswerCarriesTheModelTextAtOffset39) {
  DiagResponder d;
  d.ApplyScenario(ParseScenario("diag.model = TR52-LONGER-NAME\n"));
  Reply r = Ask(d, {0x00});
  ASSERT_EQ(r.frames.size(), 1u);
  const Bytes& a = r.frames[0];
  ASSERT_GT(a.size(), 39u + 16u);
  EXPECT_EQ(a[0], 0x00);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(a.data() + 39)), "TR52-LONGER-NAME");
}

TEST(DiagResponder, PasswordRightAndWrong) {
  DiagResponder d;
  Reply wrong = Ask(d, PasswordRequest({1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(wrong.frames[0], (Bytes{0x46, 0x00}));
  EXPECT_FALSE(d.Unlocked());
  Reply right = Ask(d, PasswordRequest(kSecurityCode));
  EXPECT_EQ(right.frames[0], (Bytes{0x46, 0x01}));
  EXPECT_TRUE(d.Unlocked());
  Reply shortReq = Ask(d, {0x46, 0xA7});
  EXPECT_EQ(shortReq.frames[0][0], kDiagBadLen);
}

TEST(DiagResponder, ControlModesOfflineResetAndUnknown) {
  DiagResponder d;
  Reply off = Ask(d, {0x29, 0x01, 0x00});
  EXPECT_EQ(off.frames[0], (Bytes{0x29, 0x01, 0x00}));
  EXPECT_EQ(off.next, Reply::Switch::None);
  EXPECT_TRUE(d.Offline());

  Reply reset = Ask(d, {0x29, 0x02, 0x00});
  EXPECT_EQ(reset.frames[0], (Bytes{0x29, 0x02, 0x00}));
  EXPECT_EQ(reset.next, Reply::Switch::ToNormal);

  Reply bad = Ask(d, {0x29, 0x09, 0x00});
  EXPECT_EQ(bad.frames[0][0], kDiagBadParm);
  EXPECT_EQ(bad.frames[0][1], 0x29);  // the refused request follows the code

  d.OnBoot(Mode::Normal);
  EXPECT_FALSE(d.Offline());
}

TEST(DiagResponder, DloadCommandAnswersThenSwitchesToDownloadMode) {
  DiagResponder d;
  Reply r = Ask(d, {0x3A});
  EXPECT_EQ(r.frames[0], (Bytes{0x3A}));
  EXPECT_EQ(r.next, Reply::Switch::ToDownload);
}

TEST(DiagResponder, BatteryAnswerLayout) {
  DiagResponder d;
  d.ApplyScenario(ParseScenario("diag.battery_level = -3\ndiag.battery_status = 0x01020304\n"));
  Reply r = Ask(d, {0x4B, 0xFC, 0x04, 0x00});
  EXPECT_EQ(r.frames[0], (Bytes{0x4B, 0xFC, 0x04, 0x00, 0x04, 0x03, 0x02, 0x01, 0xFD}));
}

TEST(DiagResponder, NvRangesAnswerLayout) {
  DiagResponder d;
  Reply r = Ask(d, {0x4B, 0xFC, 0x09, 0x00});
  EXPECT_EQ(r.frames[0],
            (Bytes{0x4B, 0xFC, 0x09, 0x00, 0x00, 0x00, 0x29, 0x11, 0x29, 0x23, 0xDD, 0x23}));
  d.ApplyScenario(ParseScenario("diag.nv_ranges = 1 2 3 4\n"));
  EXPECT_EQ(Ask(d, {0x4B, 0xFC, 0x09, 0x00}).frames[0][10], 4);
}

TEST(DiagResponder, LeavesOtherRequestsAndDownloadModeToOthers) {
  DiagResponder d;
  Reply r;
  EXPECT_FALSE(d.Handle(Mode::Download, Bytes{0x00}, r));
  EXPECT_FALSE(d.Handle(Mode::Normal, Bytes{0x4B, 0x13, 0x00, 0x00}, r));
  EXPECT_FALSE(d.Handle(Mode::Normal, Bytes{0x4B, 0xFC, 0x77, 0x00}, r));
  EXPECT_FALSE(d.Handle(Mode::Normal, Bytes{0x0C}, r));
  EXPECT_TRUE(r.frames.empty());
}

}  // namespace
}  // namespace vphone
