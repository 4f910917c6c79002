// GetBootingMode and Unlock against a scripted phone on a pseudo-terminal.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/messages.h"
#include "link/phone_link.h"
#include "session/download_steps.h"
#include "session/step_runner.h"
#include "support/scoped_clock.h"
#include "support/scripted_peer.h"
#include "unit/session/message_sink.h"

namespace tr52 {
namespace {

using Bytes = tr52test::ScriptedPeer::Bytes;
using Answers = tr52test::ScriptedPeer::Answers;

// How the scripted phone behaves.
struct PhoneScript {
  bool diag = true;                 // answers DIAG requests (normal mode)
  std::string model = "TR52";       // DIAG model text (answer offset 39)
  std::string banner = "TR52 V10";  // NV item 71
  bool bannerReadable = true;
  std::string emergencyName;      // answers DLOAD_VERREQ_F when not empty
  uint8_t passwordAnswer = 0x46;  // first byte of the DIAG_PASSWORD_F answer
  enum class Unlock { Accept, Refuse, Silent } unlock = Unlock::Accept;
};

Answers Answer(const PhoneScript& s, const Bytes& req) {
  if (req.empty()) return {};
  switch (req[0]) {
    case 0x00: {  // DIAG_VERNO_F
      if (!s.diag) return {};
      Bytes a(39, 0);
      a[0] = 0x00;
      a.insert(a.end(), s.model.begin(), s.model.end());
      a.push_back(0);
      return {a};
    }
    case 0x26: {  // NV read
      if (!s.diag) return {};
      Bytes a(133, 0);
      a[0] = 0x26;
      a[1] = req[1];
      a[2] = req[2];
      std::memcpy(&a[3], s.banner.data(), std::min<size_t>(s.banner.size(), 127));
      a[131] = s.bannerReadable ? 0 : 5;  // NV_NOTACTIVE_S
      return {a};
    }
    case 0x46:  // DIAG_PASSWORD_F
      if (!s.diag) return {};
      return {Bytes{s.passwordAnswer, 0x01}};
    case 0x0C: {  // DLOAD_VERREQ_F
      if (s.emergencyName.empty()) return {};
      Bytes a{0x0D, static_cast<uint8_t>(s.emergencyName.size())};
      a.insert(a.end(), s.emergencyName.begin(), s.emergencyName.end());
      return {a};
    }
    case 0x0B:  // DLOAD_UNLOCK_F
      if (s.unlock == PhoneScript::Unlock::Silent) return {};
      if (s.unlock == PhoneScript::Unlock::Refuse) return {Bytes{0x03, 0x00, 0x07}};
      return {Bytes{0x02}};
    default:
      return {};
  }
}

class DetectTest : public ::testing::Test {
 protected:
  static constexpr int kCom = 61;

  DetectTest()
      : clock_(200),
        peer_(kCom, [](const Bytes& req) { return Answer(PhoneScript{}, req); }),
        runner_(1, sink_.Hwnd(), WM_DOWNLOAD_STEP, 0x07010148, 0x1800) {
    runner_.Configure(1, sink_.Hwnd(), WM_DOWNLOAD_STEP, 0x07010148, 0x1800, kCom);
  }
  void SetUp() override { ASSERT_TRUE(runner_.Link()->Open(kCom)); }
  void TearDown() override { runner_.Link()->Close(); }

  // The phone answers by `script_` from now on (a copy: the peer thread never reads ours).
  void Apply() {
    peer_.SetHandler([s = script_](const Bytes& req) { return Answer(s, req); });
  }
  // Runs the detection; the mode starts at `start`.
  int Detect(uint8_t start, uint8_t& mode) {
    Apply();
    mode = start;
    return GetBootingMode(runner_.Context(), mode);
  }
  std::vector<std::string> TextLines() {
    std::vector<std::string> out;
    for (const auto& m : sink_.Of(win::WM_COPYDATA)) out.push_back(m.text);
    return out;
  }
  std::vector<uint8_t> CommandsSent() {
    std::vector<uint8_t> out;
    for (const auto& r : peer_.Requests()) out.push_back(r.empty() ? 0xFF : r[0]);
    return out;
  }

  PhoneScript script_;
  tr52test::ScopedClock clock_;
  tr52test::MessageSink sink_;
  tr52test::ScriptedPeer peer_;
  StepRunner runner_;
};

TEST_F(DetectTest, NormalPhoneGivesModeOneAndReportsItsName) {
  uint8_t mode;
  EXPECT_EQ(Detect(0, mode), 0);
  EXPECT_EQ(mode, BOOT_DIAG);
  EXPECT_EQ(runner_.BootMode(), BOOT_DIAG);
  EXPECT_EQ(TextLines(), std::vector<std::string>{"TR52"});
  // Model and banner only: no download-mode request.
  EXPECT_EQ(CommandsSent(), (std::vector<uint8_t>{0x00, 0x26}));
}

TEST_F(DetectTest, CswBannerGivesModeFive) {
  script_.banner = "TR52 CSW 1.0";
  uint8_t mode;
  EXPECT_EQ(Detect(0, mode), 0);
  EXPECT_EQ(mode, BOOT_DIAG_CSW);
}

TEST_F(DetectTest, UnreadableBannerKeepsModeOne) {
  script_.banner = "CSW";
  script_.bannerReadable = false;
  uint8_t mode;
  EXPECT_EQ(Detect(0, mode), 0);
  EXPECT_EQ(mode, BOOT_DIAG);
}

TEST_F(DetectTest, ModelNameIsComparedIgnoringCase) {
  script_.model = "tr52";
  uint8_t mode;
  EXPECT_EQ(Detect(0, mode), 0);
  EXPECT_EQ(TextLines(), std::vector<std::string>{"TR52"});
}

TEST_F(DetectTest, OtherModelFailsWith503) {
  script_.model = "TR53";
  uint8_t mode;
  EXPECT_EQ(Detect(0, mode), kResultModelMismatch);
  EXPECT_TRUE(TextLines().empty());
}

TEST_F(DetectTest, EmergencyPhoneGivesModeTwoWithStrippedName) {
  script_.diag = false;
  script_.emergencyName = "KW_TR52/V10A";
  uint8_t mode;
  EXPECT_EQ(Detect(0, mode), 0);
  EXPECT_EQ(mode, BOOT_DLOAD);
  EXPECT_EQ(runner_.BootMode(), BOOT_DLOAD);
  EXPECT_EQ(TextLines(), std::vector<std::string>{"TR52"});
}

TEST_F(DetectTest, EmergencyNameEndingInCGivesModeSix) {
  script_.diag = false;
  script_.emergencyName = "kw-tr52/V10C";
  uint8_t mode;
  EXPECT_EQ(Detect(0, mode), 0);
  EXPECT_EQ(mode, BOOT_DLOAD_C);
}

TEST_F(DetectTest, EmergencyNameWithoutSlashFailsTheModelCheck) {
  script_.diag = false;
  script_.emergencyName = "KW_TR52";
  uint8_t mode;
  EXPECT_EQ(Detect(0, mode), kResultModelMismatch);
}

TEST_F(DetectTest, SilentPhoneGives502AndNoPhoneText) {
  script_.diag = false;
  uint8_t mode;
  EXPECT_EQ(Detect(0, mode), kResultNoPhone);
  EXPECT_EQ(TextLines(), std::vector<std::string>{"No Phone"});
}

TEST_F(DetectTest, RedetectionInDownloadModeAsksOnlyTheEmergencyName) {
  script_.emergencyName = "KW_TR52/V10A";
  uint8_t mode;
  EXPECT_EQ(Detect(BOOT_DLOAD, mode), 0);
  EXPECT_EQ(mode, BOOT_DLOAD);
  EXPECT_EQ(CommandsSent(), std::vector<uint8_t>{0x0C});
}

TEST_F(DetectTest, DiagUnlockSendsTheSecurityCode) {
  Apply();
  EXPECT_EQ(Unlock(runner_.Context(), BOOT_DIAG_CSW), 0);
  const auto requests = peer_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], (Bytes{0x46, 0xA7, 0x5C, 0x19, 0xE2, 0x40, 0x8B, 0xD3, 0x6F}));
}

TEST_F(DetectTest, RefusedSecurityCodeGives508) {
  script_.passwordAnswer = 0x13;  // bad command
  Apply();
  EXPECT_EQ(Unlock(runner_.Context(), BOOT_DIAG), kResultSecurityCodeRefused);
}

TEST_F(DetectTest, DownloadModeUnlock) {
  runner_.Link()->SetProtocolMode(Protocol::Dload);
  Apply();
  EXPECT_EQ(Unlock(runner_.Context(), BOOT_DLOAD_C), 0);
  const auto requests = peer_.Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back(), (Bytes{0x0B, 0xA7, 0x5C, 0x19, 0xE2, 0x40, 0x8B, 0xD3, 0x6F}));
}

TEST_F(DetectTest, RefusedDownloadUnlockGives1014) {
  runner_.Link()->SetProtocolMode(Protocol::Dload);
  script_.unlock = PhoneScript::Unlock::Refuse;
  Apply();
  EXPECT_EQ(Unlock(runner_.Context(), BOOT_DLOAD), kResultDloadUnlockRefused);
}

TEST_F(DetectTest, SilentPhoneCountsAsUnlocked) {
  runner_.Link()->SetProtocolMode(Protocol::Dload);
  script_.unlock = PhoneScript::Unlock::Silent;
  Apply();
  EXPECT_EQ(Unlock(runner_.Context(), BOOT_DLOAD), 0);
}

TEST_F(DetectTest, OtherModesUnlockWithoutSending) {
  Apply();
  EXPECT_EQ(Unlock(runner_.Context(), BOOT_UNKNOWN), 0);
  Apply();
  EXPECT_EQ(Unlock(runner_.Context(), 4), 0);
  EXPECT_EQ(peer_.RequestCount(), 0u);
}

}  // namespace
}  // namespace tr52
