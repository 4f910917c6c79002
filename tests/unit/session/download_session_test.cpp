// DownloadSession::Run around the flow: port open, detection, image load, final message.
#include "session/download_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/messages.h"
#include "link/phone_link.h"
#include "package/image_catalogue.h"
#include "session/step_runner.h"
#include "support/scoped_clock.h"
#include "support/scripted_peer.h"
#include "ui/progress_reporter.h"
#include "unit/session/message_sink.h"

namespace tr52 {
namespace {

using Bytes = tr52test::ScriptedPeer::Bytes;

tr52test::ScriptedPeer::Answers NormalPhone(const Bytes& req) {
  if (req.empty()) return {};
  if (req[0] == 0x00) {
    Bytes a(39, 0);
    for (char c : std::string("TR52")) a.push_back(static_cast<uint8_t>(c));
    a.push_back(0);
    return {a};
  }
  if (req[0] == 0x26) {
    Bytes a(133, 0);
    a[0] = 0x26;
    a[1] = req[1];
    a[2] = req[2];
    return {a};
  }
  return {};
}

class DownloadSessionTest : public ::testing::Test {
 protected:
  DownloadSessionTest() : clock_(200) {}

  DownloadJob Params(int port, const std::string& path = "/nonexistent/TR52.dz") {
    DownloadJob p;
    p.dialog = sink_.Hwnd();
    p.flowType = kFlowDownload;
    p.packagePath = path;
    p.port = static_cast<uint8_t>(port);
    p.imageMask = kPluginImageMask;
    p.options = kPluginOptions;
    p.notifyMsg = WM_DOWNLOAD_STEP;
    return p;
  }
  // (code, lParam) of every step message posted to the dialog.
  std::vector<std::pair<unsigned, long>> Steps() {
    sink_.Pump();
    std::vector<std::pair<unsigned, long>> out;
    for (const auto& m : sink_.Of(WM_DOWNLOAD_STEP))
      out.emplace_back(static_cast<unsigned>(m.wParam), static_cast<long>(m.lParam));
    return out;
  }

  // Runs the download as a pane does, with a sink pointed at the session's dialog.
  static ResultCode RunWithPane(DownloadSession& session) {
    const DownloadJob& job = session.Job();
    ProgressReporter progress(job.dialog, job.notifyMsg, job.port);
    const ResultCode result = session.Run(progress);
    EXPECT_EQ(session.Runner().Progress(), nullptr) << "the pane's sink kept after the download";
    return result;
  }

  tr52test::ScopedClock clock_;
  tr52test::MessageSink sink_;
  ImageCatalogue images_;
};

TEST_F(DownloadSessionTest, StartConfiguresTheRunner) {
  DownloadJob p;
  p.port = 12;
  DownloadSession session(p, images_);
  session.Runner().State().bootMode = BootMode::DloadC;
  session.Start(Params(12));
  StepRunner& r = session.Runner();
  EXPECT_EQ(r.Job().port, 12);
  EXPECT_EQ(r.Job().imageMask, kPluginImageMask);
  EXPECT_EQ(r.Job().options, kPluginOptions);
  EXPECT_EQ(r.Job().notifyMsg, WM_DOWNLOAD_STEP);
  EXPECT_EQ(r.Job().dialog, sink_.Hwnd());
  EXPECT_EQ(r.State().bootMode, BootMode::Diag);
}

TEST_F(DownloadSessionTest, PortThatCannotOpenEndsWith6) {
  DownloadJob p;
  p.port = 70;
  DownloadSession session(p, images_);
  session.Start(Params(70));  // nothing declares COM70
  EXPECT_EQ(ToInt(RunWithPane(session)), ToInt(ResultCode::OpenPort));
  EXPECT_EQ(Steps(), (std::vector<std::pair<unsigned, long>>{{TYPE_WPARAM_UPGRADE_ERROR, 6}}));
}

TEST_F(DownloadSessionTest, NoDialogMeansNoMessages) {
  DownloadJob p;
  p.port = 71;
  DownloadSession session(p, images_);
  EXPECT_EQ(ToInt(RunWithPane(session)), ToInt(ResultCode::OpenPort));
  EXPECT_TRUE(Steps().empty());
}

TEST_F(DownloadSessionTest, SilentPhoneEndsWith502AndKeepsThePortOpen) {
  tr52test::ScriptedPeer peer(72);
  DownloadJob p;
  p.port = 72;
  DownloadSession session(p, images_);
  session.Start(Params(72));
  EXPECT_EQ(ToInt(RunWithPane(session)), ToInt(ResultCode::NoPhone));
  EXPECT_EQ(Steps(), (std::vector<std::pair<unsigned, long>>{{TYPE_WPARAM_UPGRADE_ERROR, 502}}));
  EXPECT_TRUE(session.Runner().Link()->IsOpen());
}

TEST_F(DownloadSessionTest, MissingPackageEndsWith501AndClosesThePort) {
  tr52test::ScriptedPeer peer(73, NormalPhone);
  DownloadJob p;
  p.port = 73;
  DownloadSession session(p, images_);
  ASSERT_TRUE(session.OpenPort());
  session.Start(Params(73));
  EXPECT_EQ(ToInt(RunWithPane(session)), ToInt(ResultCode::LoadImages));
  EXPECT_EQ(Steps(), (std::vector<std::pair<unsigned, long>>{{TYPE_WPARAM_LOAD_BIN, 0},
                                                             {TYPE_WPARAM_UPGRADE_ERROR, 501}}));
  EXPECT_FALSE(session.Runner().Link()->IsOpen());
  EXPECT_EQ(session.Job().flowType, kFlowDownload);
}

TEST_F(DownloadSessionTest, EmergencyPhoneSwitchesToFlowZero) {
  tr52test::ScriptedPeer peer(74, [](const Bytes& req) -> tr52test::ScriptedPeer::Answers {
    if (!req.empty() && req[0] == 0x0C) {
      const std::string name = "KW_TR52/V10A";
      Bytes a{0x0D, static_cast<uint8_t>(name.size())};
      a.insert(a.end(), name.begin(), name.end());
      return {a};
    }
    return {};
  });
  DownloadJob p;
  p.port = 74;
  DownloadSession session(p, images_);
  session.Start(Params(74));
  EXPECT_EQ(ToInt(RunWithPane(session)), ToInt(ResultCode::LoadImages));
  EXPECT_EQ(session.Job().flowType, kFlowEmergency);
  const auto steps = Steps();
  ASSERT_FALSE(steps.empty());
  EXPECT_EQ(steps.back(), (std::pair<unsigned, long>{TYPE_WPARAM_UPGRADE_ERROR, 501}));
}

}  // namespace
}  // namespace tr52
