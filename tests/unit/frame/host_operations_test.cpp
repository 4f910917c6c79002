// The six host operations: registries, lock order, teardown and the configuration text.
#include "frame/host_operations.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/messages.h"
#include "base/settings_file.h"
#include "frame/module_entry.h"
#include "frame/module_root.h"
#include "session/download_session.h"
#include "session/session_registry.h"
#include "support/scoped_clock.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "ui/dialog_registry.h"
#include "ui/progress_dialog.h"
#include "unit/session/message_sink.h"

namespace tr52 {
namespace {

// True when another thread can use `registry` right now (its lock is not left held): the
// count comes back from a thread of its own.
template <typename Registry>
bool FreeForOthers(const Registry& registry) {
  return std::async(std::launch::async, [&] { return registry.Count() < 1000; }).get();
}

class HostOperationsTest : public ::testing::Test {
 protected:
  HostOperationsTest() : clock_(200) {
    root_->Settings().SetPath(dir_.File("ZUDP2.ini"));
    parent_.m_hWnd = host_.Hwnd();
    previous_ = ExchangeModuleRootForTesting(root_.get());
  }
  // The test's root ends what is left of its ports as it goes.
  ~HostOperationsTest() override { ExchangeModuleRootForTesting(previous_); }

  // A session registered for a port without opening anything.
  DownloadSession* RegisterSession(int port) {
    DownloadJob job;
    job.port = static_cast<uint8_t>(port);
    auto s = std::make_unique<DownloadSession>(job, root_->Images());
    DownloadSession* raw = s.get();
    root_->Sessions().Add(std::move(s));
    return raw;
  }
  ProgressDialog* RegisterDialog(int port, ProgressDialog::RunOperation run) {
    auto d = std::make_unique<ProgressDialog>(std::move(run));
    EXPECT_TRUE(d->Create(&parent_, port, 0));
    ProgressDialog* raw = d.get();
    root_->Dialogs().Add(std::move(d));
    return raw;
  }
  bool HasPane() {
    return root_->Dialogs().WithPane(&parent_, [](ProgressDialog&) {});
  }
  // Pumps the test thread until the host has `count` results (or `rounds` × 10 real ms).
  std::vector<win::WPARAM> WaitResults(size_t count, int rounds = 500) {
    for (int i = 0; i < rounds; ++i) {
      win::PumpMessages(10);
      if (host_.Of(WM_DOWNLOAD_RESULT).size() >= count) break;
    }
    std::vector<win::WPARAM> out;
    for (const auto& m : host_.Of(WM_DOWNLOAD_RESULT)) out.push_back(m.wParam);
    return out;
  }

  tr52test::ScopedClock clock_;
  tr52test::TempDir dir_;
  // A private, empty port table: the ports these tests name are never the machine's.
  tr52test::TempDir ports_;
  tr52test::ScopedEnv tableEnv_{"TR52_PORT_TABLE", ports_.Path()};
  tr52test::MessageSink host_;
  win::CWnd parent_;
  // The root the operations reach while the test runs; goes first, ending its ports.
  std::unique_ptr<ModuleRoot> root_ = std::make_unique<ModuleRoot>();
  ModuleRoot* previous_ = nullptr;
};

TEST_F(HostOperationsTest, ConfigInfoOfAPathNeverSet) {
  char buffer[64];
  std::memset(buffer, '#', sizeof(buffer));
  EXPECT_EQ(GetConfigInfo(buffer, sizeof(buffer)), 1);
  EXPECT_STREQ(buffer, "PATH_BIN : NULL\r\n");
}

TEST_F(HostOperationsTest, ConfigInfoShowsTheSavedPath) {
  std::string error;
  ASSERT_TRUE(root_->Settings().Write("TR52", "PATH_BIN", "/data/TR52.dz", error)) << error;
  char buffer[64];
  EXPECT_EQ(GetConfigInfo(buffer, sizeof(buffer)), 1);
  EXPECT_STREQ(buffer, "PATH_BIN : /data/TR52.dz\r\n");
}

TEST_F(HostOperationsTest, ConfigInfoTruncatesWithoutTerminator) {
  const std::string text = "PATH_BIN : NULL\r\n";  // 17 characters
  const int n = static_cast<int>(text.size());
  for (int size : {n, 5, 1}) {
    std::vector<char> buffer(40, '#');
    EXPECT_EQ(GetConfigInfo(buffer.data(), size), 1);
    EXPECT_EQ(std::string(buffer.data(), static_cast<size_t>(size)), text.substr(0, size));
    EXPECT_EQ(buffer[static_cast<size_t>(size)], '#') << "size " << size;
  }
  std::vector<char> buffer(40, '#');
  EXPECT_EQ(GetConfigInfo(buffer.data(), n + 1), 1);
  EXPECT_STREQ(buffer.data(), text.c_str());
}

TEST_F(HostOperationsTest, ConfigInfoWithoutRoomWritesNothing) {
  std::vector<char> buffer(8, '#');
  EXPECT_EQ(GetConfigInfo(buffer.data(), 0), 0);
  EXPECT_EQ(GetConfigInfo(buffer.data(), -5), 0);
  EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "########");
  EXPECT_EQ(GetConfigInfo(nullptr, 64), 0);
}

TEST_F(HostOperationsTest, CloseProgressWithUnknownParentLeavesLocksFree) {
  win::CWnd stranger;
  EXPECT_EQ(CloseProgress(&stranger), 0);
  EXPECT_EQ(CloseProgress(nullptr), 0);
  EXPECT_TRUE(FreeForOthers(root_->Dialogs()));
  EXPECT_TRUE(FreeForOthers(root_->Sessions()));
}

// A pane whose session is gone is not left behind with its thread: it goes, and its worker
// is waited for.
TEST_F(HostOperationsTest, CloseProgressWithoutSessionEndsThePane) {
  std::atomic<bool> finished{false};
  ProgressDialog* d = RegisterDialog(21, [&](ProgressDialog&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    finished = true;
    return 0;
  });
  const win::HWND pane = d->Hwnd();
  EXPECT_EQ(CloseProgress(&parent_), 1);
  EXPECT_TRUE(finished.load());
  EXPECT_FALSE(win::IsWindow(pane));
  EXPECT_TRUE(FreeForOthers(root_->Sessions()));
  EXPECT_FALSE(HasPane());
}

TEST_F(HostOperationsTest, CloseProgressWaitsForAFinishingWorker) {
  DownloadSession* s = RegisterSession(22);
  std::atomic<bool> finished{false};
  std::atomic<bool> sawSession{false};
  RegisterDialog(22, [&](ProgressDialog& d) {
    root_->Sessions().WithSession(22, [&](DownloadSession& found) { sawSession = &found == s; });
    win::PostMessage(d.Hwnd(), WM_DOWNLOAD_STEP, TYPE_WPARAM_UPGRADE_OK, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // still finishing
    finished = true;
    return 1;
  });
  ASSERT_EQ(WaitResults(1), std::vector<win::WPARAM>{0x00010001});
  EXPECT_EQ(CloseProgress(&parent_), 1);
  EXPECT_TRUE(finished.load());
  EXPECT_TRUE(sawSession.load());
  EXPECT_FALSE(HasPane());
  EXPECT_FALSE(root_->Sessions().Has(22));
}

TEST_F(HostOperationsTest, CloseRightAfterOpenDoesNotDeadlock) {
  RegisterSession(23);
  // The worker may still be looking up its session while the host closes the port.
  RegisterDialog(23, [](ProgressDialog& d) { return d.RunDownload(); });
  EXPECT_EQ(CloseProgress(&parent_), 1);
}

TEST_F(HostOperationsTest, OpenProgressNeedsASession) {
  EXPECT_EQ(OpenProgress(&parent_, 24, 0), 0);
  EXPECT_FALSE(HasPane());
}

TEST_F(HostOperationsTest, AbsentPortIsDisconnectedAndCannotConnect) {
  EXPECT_EQ(IsDisconnected(25), 1);
  EXPECT_EQ(IsConnected(25), 0);
  EXPECT_EQ(IsDisconnected(25 + 256), 1);
  EXPECT_FALSE(root_->Sessions().Has(25));
}

TEST_F(HostOperationsTest, PortOpenFailureEndsWithOneResult6) {
  RegisterSession(26);  // nothing answers on COM26: the worker cannot open it
  ASSERT_EQ(OpenProgress(&parent_, 26, 0), 1);
  EXPECT_EQ(WaitResults(1), std::vector<win::WPARAM>{win::MAKELONG(6, 1)});
  EXPECT_EQ(CloseProgress(&parent_), 1);
  EXPECT_EQ(WaitResults(2, 20).size(), 1u);  // and no second one
}

TEST_F(HostOperationsTest, ObsoleteTableAnswersZeroEverywhere) {
  PluginOps ops{};
  FillStubOps(ops);
  char buffer[8] = "#######";
  EXPECT_EQ(ops.IsDisconnected(1), 0);
  EXPECT_EQ(ops.IsConnected(1), 0);
  EXPECT_EQ(ops.OpenProgress(&parent_, 1, 0), 0);
  EXPECT_EQ(ops.CloseProgress(&parent_), 0);
  EXPECT_EQ(ops.ShowConfiguration(&parent_), 0);
  EXPECT_EQ(ops.GetConfigInfo(buffer, 8), 0);
  EXPECT_STREQ(buffer, "#######");
}

TEST_F(HostOperationsTest, HeadlessConfigurationIsCancelledAndReportsSuccess) {
  EXPECT_EQ(ShowConfiguration(&parent_), 1);
  char buffer[64];
  GetConfigInfo(buffer, sizeof(buffer));
  EXPECT_STREQ(buffer, "PATH_BIN : NULL\r\n");
}

}  // namespace
}  // namespace tr52
