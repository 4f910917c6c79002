// The host's road through the plug-in's operations against a virtual phone: connect, open the
// pane (which starts the download), wait for the one result message, close.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/settings_file.h"
#include "dz_writer.h"
#include "frame/host_operations.h"
#include "frame/module_entry.h"
#include "package/image_store.h"
#include "platform/process_info.h"
#include "session/download_session.h"
#include "session/session_registry.h"
#include "support/scoped_clock.h"
#include "support/temp_dir.h"
#include "ui/dialog_registry.h"
#include "ui/progress_dialog.h"
#include "vphone/virtual_phone.h"
#include "win/controls.h"

namespace tr52 {
namespace {

// A package with every image of the plug-in's mask (small, made-up contents).
std::string WritePackage(const std::string& dir) {
  static std::vector<std::vector<uint8_t>> data;
  DzWriter writer;
  for (int type : {IMAGE_AMSS, IMAGE_EFS_GANG, IMAGE_PARTITION_TBL, IMAGE_FLEXIBLE_LOGO, IMAGE_DBL,
                   IMAGE_FSBL, IMAGE_OSBL}) {
    data.emplace_back(3000 + 100 * type, static_cast<uint8_t>(type));
    writer.Add({static_cast<uint32_t>(type), ImageTypeName(type), type == IMAGE_AMSS, data.back()});
  }
  const std::string path = dir + "/TR52_TEST.dz";
  EXPECT_TRUE(writer.Write(path)) << writer.Error();
  return path;
}

class PluginSession : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new tr52test::TempDir();
    // The host executable stands in the temporary folder: settings and log go there.
    SetExecutablePathOverride(dir_->File("host"));
    ModuleAttach();
    Settings().Write(kSettingsSection, kPathBinKey, WritePackage(dir_->Path()));
  }
  static void TearDownTestSuite() {
    ModuleDetach();
    SetExecutablePathOverride("");
    delete dir_;
  }

  PluginSession() : clock_(100) {
    host_ = win::CreateWindowEx(nullptr, "Host", "", 0, {},
                                [this](win::HWND, win::UINT m, win::WPARAM w, win::LPARAM) {
                                  if (m == WM_DOWNLOAD_RESULT) results_.push_back(w);
                                  return win::LRESULT{0};
                                });
    parent_.m_hWnd = host_;
  }
  ~PluginSession() override { win::DestroyWindow(host_); }

  std::unique_ptr<vphone::VirtualPhone> StartPhone(int com, vphone::Mode mode,
                                                   vphone::Scenario scenario = {}) {
    vphone::PhoneOptions options;
    options.com = com;
    options.startMode = mode;
    options.scenario = std::move(scenario);
    auto phone = std::make_unique<vphone::VirtualPhone>(options);
    std::string error;
    EXPECT_TRUE(phone->Start(&error)) << error;
    return phone;
  }
  // Serves the panes until the host has a result (at most about ten real seconds).
  void WaitForResult() {
    for (int i = 0; i < 1000 && results_.empty(); ++i) win::PumpMessages(10);
  }
  std::vector<std::string> PaneLines() {
    std::lock_guard<std::recursive_mutex> g(DialogRegistry::Instance().Lock());
    ProgressDialog* d = DialogRegistry::Instance().FindByParent(&parent_);
    if (d == nullptr) return {};
    auto list = win::GetListBoxState(win::GetDlgItem(d->Hwnd(), 7005));
    return list ? list->items : std::vector<std::string>{};
  }
  int SessionFlowType(int port) {
    std::lock_guard<std::recursive_mutex> g(SessionRegistry::Instance().Lock());
    DownloadSession* s = SessionRegistry::Instance().FindByPort(port);
    return s ? s->FlowType() : -1;
  }

  static tr52test::TempDir* dir_;
  tr52test::ScopedClock clock_;
  win::HWND host_ = nullptr;
  win::CWnd parent_;
  std::vector<win::WPARAM> results_;
};

tr52test::TempDir* PluginSession::dir_ = nullptr;

// The download sequences are not in this build: the session must end with a clear error.
TEST_F(PluginSession, NormalPhoneIsDetectedAndEndsWithOneResult) {
  auto phone = StartPhone(81, vphone::Mode::Normal);
  ASSERT_EQ(IsDisconnected(81), 0);
  ASSERT_EQ(IsConnected(81), 1);
  ASSERT_EQ(OpenProgress(&parent_, 81, 0), 1);
  WaitForResult();
  ASSERT_EQ(results_, std::vector<win::WPARAM>{win::MAKELONG(kResultFlowUnavailable, 1)});
  EXPECT_EQ(SessionFlowType(81), kFlowDownload);
  EXPECT_EQ(PaneLines(), (std::vector<std::string>{"1.TR52", "2.Load Bin", "3.-.ERROR 9001 "}));
  EXPECT_TRUE(IsImageLoaded(IMAGE_AMSS));
  EXPECT_EQ(ImagePath(IMAGE_DBL), Settings().Read(kSettingsSection, kPathBinKey, ""));
  EXPECT_EQ(CloseProgress(&parent_), 1);
  EXPECT_EQ(SessionFlowType(81), -1);
  win::PumpMessages(50);
  EXPECT_EQ(results_.size(), 1u);
}

TEST_F(PluginSession, PhoneInDownloadModeRunsTheEmergencyFlow) {
  auto phone = StartPhone(82, vphone::Mode::Download);
  ASSERT_EQ(IsConnected(82), 1);
  ASSERT_EQ(OpenProgress(&parent_, 82, 0), 1);
  WaitForResult();
  ASSERT_EQ(results_, std::vector<win::WPARAM>{win::MAKELONG(kResultFlowUnavailable, 1)});
  EXPECT_EQ(SessionFlowType(82), kFlowEmergency);
  EXPECT_EQ(CloseProgress(&parent_), 1);
}

TEST_F(PluginSession, PhoneOfAnotherModelEndsWith503) {
  auto phone = StartPhone(83, vphone::Mode::Normal, {{"diag.model", "TR99"}});
  ASSERT_EQ(IsConnected(83), 1);
  ASSERT_EQ(OpenProgress(&parent_, 83, 0), 1);
  WaitForResult();
  ASSERT_EQ(results_, std::vector<win::WPARAM>{win::MAKELONG(503, 1)});
  EXPECT_EQ(PaneLines(), std::vector<std::string>{"1.-.ERROR 503 "});
  EXPECT_EQ(CloseProgress(&parent_), 1);
}

}  // namespace
}  // namespace tr52
