// GetBootingMode and Unlock against a scripted phone on a pseudo-terminal.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/messages.h"
#include "link/phone_link.h"
#include "package/image_catalogue.h"
#include "session/download_steps.h"
#include "session/step_runner.h"
#include "support/scoped_clock.h"
#include "support/scripted_peer.h"
#include "ui/progress_reporter.h"
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
        runner_(Job(sink_.Hwnd()), images_) {}
  static DownloadJob Job(win::HWND dialog) {
    DownloadJob job;
    job.port = kCom;
    job.imageMask = 0x07010148;
    job.options = 0x1800;
    job.notifyMsg = WM_DOWNLOAD_STEP;
    job.dialog = dialog;
    return job;
  }
  void SetUp() override {
    runner_.UseProgress(&progress_);
    ASSERT_TRUE(runner_.Link()->Open(kCom));
  }
  void TearDown() override { runner_.Link()->Close(); }

  // The phone answers by `script_` from now on (a copy: the peer thread never reads ours).
  void Apply() {
    peer_.SetHandler([s = script_](const Bytes& req) { return Answer(s, req); });
  }
  // Runs the detection; the mode starts at `start`.
  int Detect(BootMode start, BootMode& mode) {
    Apply();
    const BootDetection found = GetBootingMode(runner_.Context(), start);
    mode = found.mode;
    return ToInt(found.result);
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
  ImageCatalogue images_;
  ProgressReporter progress_{sink_.Hwnd(), WM_DOWNLOAD_STEP, kCom};
  StepRunner runner_;
};

TEST_F(DetectTest, NormalPhoneGivesModeOneAndReportsItsName) {
  BootMode mode;
  EXPECT_EQ(Detect(BootMode::Unknown, mode), 0);
  EXPECT_EQ(mode, BootMode::Diag);
  EXPECT_EQ(runner_.State().bootMode, BootMode::Diag);
  EXPECT_EQ(TextLines(), std::vector<std::string>{"TR52"});
  // Model and banner only: no download-mode request.
  EXPECT_EQ(CommandsSent(), (std::vector<uint8_t>{0x00, 0x26}));
}

TEST_F(DetectTest, CswBannerGivesModeFive) {
  script_.banner = "TR52 CSW 1.0";
  BootMode mode;
  EXPECT_EQ(Detect(BootMode::Unknown, mode), 0);
  EXPECT_EQ(mode, BootMode::DiagCsw);
}

TEST_F(DetectTest, UnreadableBannerKeepsModeOne) {
  script_.banner = "CSW";
  script_.bannerReadable = false;
  BootMode mode;
  EXPECT_EQ(Detect(BootMode::Unknown, mode), 0);
  EXPECT_EQ(mode, BootMode::Diag);
}

TEST_F(DetectTest, ModelNameIsComparedIgnoringCase) {
  script_.model = "tr52";
  BootMode mode;
  EXPECT_EQ(Detect(BootMode::Unknown, mode), 0);
  EXPECT_EQ(TextLines(), std::vector<std::string>{"TR52"});
}

TEST_F(DetectTest, OtherModelFailsWith503) {
  script_.model = "TR53";
  BootMode mode;
  EXPECT_EQ(Detect(BootMode::Unknown, mode), ToInt(ResultCode::ModelMismatch));
  EXPECT_TRUE(TextLines().empty());
}

TEST_F(DetectTest, EmergencyPhoneGivesModeTwoWithStrippedName) {
  script_.diag = false;
  script_.emergencyName = "KW_TR52/V10A";
  BootMode mode;
  EXPECT_EQ(Detect(BootMode::Unknown, mode), 0);
  EXPECT_EQ(mode, BootMode::Dload);
  EXPECT_EQ(runner_.State().bootMode, BootMode::Dload);
  EXPECT_EQ(TextLines(), std::vector<std::string>{"TR52"});
}

TEST_F(DetectTest, EmergencyNameEndingInCGivesModeSix) {
  script_.diag = false;
  script_.emergencyName = "kw-tr52/V10C";
  BootMode mode;
  EXPECT_EQ(Detect(BootMode::Unknown, mode), 0);
  EXPECT_EQ(mode, BootMode::DloadC);
}

TEST_F(DetectTest, EmergencyNameWithoutSlashFailsTheModelCheck) {
  script_.diag = false;
  script_.emergencyName = "KW_TR52";
  BootMode mode;
  EXPECT_EQ(Detect(BootMode::Unknown, mode), ToInt(ResultCode::ModelMismatch));
}

TEST_F(DetectTest, SilentPhoneGives502AndNoPhoneText) {
  script_.diag = false;
  BootMode mode;
  EXPECT_EQ(Detect(BootMode::Unknown, mode), ToInt(ResultCode::NoPhone));
  EXPECT_EQ(TextLines(), std::vector<std::string>{"No Phone"});
}

TEST_F(DetectTest, RedetectionInDownloadModeAsksOnlyTheEmergencyName) {
  script_.emergencyName = "KW_TR52/V10A";
  BootMode mode;
  EXPECT_EQ(Detect(BootMode::Dload, mode), 0);
  EXPECT_EQ(mode, BootMode::Dload);
  EXPECT_EQ(CommandsSent(), std::vector<uint8_t>{0x0C});
}

TEST_F(DetectTest, DiagUnlockSendsTheSecurityCode) {
  Apply();
  EXPECT_EQ(ToInt(Unlock(runner_.Context(), BootMode::DiagCsw)), 0);
  const auto requests = peer_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], (Bytes{0x46, 0xA7, 0x5C, 0x19, 0xE2, 0x40, 0x8B, 0xD3, 0x6F}));
}

TEST_F(DetectTest, RefusedSecurityCodeGives508) {
  script_.passwordAnswer = 0x13;  // bad command
  Apply();
  EXPECT_EQ(ToInt(Unlock(runner_.Context(), BootMode::Diag)),
            ToInt(ResultCode::SecurityCodeRefused));
}

TEST_F(DetectTest, DownloadModeUnlock) {
  runner_.Link()->SetProtocolMode(Protocol::Dload);
  Apply();
  EXPECT_EQ(ToInt(Unlock(runner_.Context(), BootMode::DloadC)), 0);
  const auto requests = peer_.Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back(), (Bytes{0x0B, 0xA7, 0x5C, 0x19, 0xE2, 0x40, 0x8B, 0xD3, 0x6F}));
}

TEST_F(DetectTest, RefusedDownloadUnlockGives1014) {
  runner_.Link()->SetProtocolMode(Protocol::Dload);
  script_.unlock = PhoneScript::Unlock::Refuse;
  Apply();
  EXPECT_EQ(ToInt(Unlock(runner_.Context(), BootMode::Dload)),
            ToInt(ResultCode::DloadUnlockRefused));
}

TEST_F(DetectTest, SilentPhoneCountsAsUnlocked) {
  runner_.Link()->SetProtocolMode(Protocol::Dload);
  script_.unlock = PhoneScript::Unlock::Silent;
  Apply();
  EXPECT_EQ(ToInt(Unlock(runner_.Context(), BootMode::Dload)), 0);
}

TEST_F(DetectTest, OtherModesUnlockWithoutSending) {
  Apply();
  EXPECT_EQ(ToInt(Unlock(runner_.Context(), BootMode::Unknown)), 0);
  Apply();
  EXPECT_EQ(ToInt(Unlock(runner_.Context(), BootMode::DiagFilesOnly)), 0);
  EXPECT_EQ(peer_.RequestCount(), 0u);
}

}  // namespace
}  // namespace tr52
