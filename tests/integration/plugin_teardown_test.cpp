// Tearing ports down while their downloads still wait on a phone: closing a pane, unloading the
// module, and operations that fail half-way. The phones never answer the model-name request, so
// a worker left alone sits in its transaction for many seconds; every teardown here must end it
// at once instead (real clock).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/process_log.h"
#include "frame/host_operations.h"
#include "frame/module_entry.h"
#include "frame/module_root.h"
#include "platform/process_info.h"
#include "session/session_registry.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "ui/dialog_registry.h"
#include "ui/progress_dialog.h"
#include "vphone/scenario.h"
#include "vphone/virtual_phone.h"
#include "win/window.h"

namespace tr52 {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kPrompt{1000};

milliseconds Timed(const std::function<void()>& action) {
  const auto start = Clock::now();
  action();
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

std::string ReadLog() {
  std::ifstream in(ProcessLog::DefaultPath(), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A front end that fails (throws) once, at one chosen moment of the host's drawing.
class FailingFrontEnd : public win::FrontEnd {
 public:
  enum class At {
    HostRepaint,   // the host window is repainted: a pane is made or goes
    PaneShown,     // a pane of the host becomes visible
    ModalStarted,  // a modal dialog starts
  };
  FailingFrontEnd(win::HWND host, At at) : host_(host), at_(at) { win::SetFrontEnd(this); }
  ~FailingFrontEnd() override { win::SetFrontEnd(nullptr); }
  FailingFrontEnd(const FailingFrontEnd&) = delete;
  FailingFrontEnd& operator=(const FailingFrontEnd&) = delete;

  void Invalidate(win::HWND hwnd) override {
    if (at_ == At::HostRepaint && hwnd == host_) Fail();
    if (at_ == At::PaneShown && win::GetParent(hwnd) == host_ &&
        (win::GetWindowStyle(hwnd) & win::WS_VISIBLE) != 0)
      Fail();
  }
  void ModalDialogStarted(win::HWND) override {
    if (at_ == At::ModalStarted) Fail();
  }
  int ShowMessageBox(win::HWND, const std::string&, const std::string&, win::UINT) override {
    return win::IDOK;
  }

 private:
  void Fail() {
    if (failed_) return;
    failed_ = true;
    throw std::runtime_error("front end out of order");
  }
  win::HWND host_;
  At at_;
  bool failed_ = false;
};

class PluginTeardown : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new tr52test::TempDir();
    table_ = new tr52test::ScopedEnv("TR52_PORT_TABLE", dir_->Path());
    SetExecutablePathOverride(dir_->File("host"));
    ModuleAttach();
  }
  static void TearDownTestSuite() {
    ModuleDetach();
    SetExecutablePathOverride("");
    delete table_;  // the earlier value comes back
    delete dir_;
  }

  PluginTeardown() {
    host_ = win::CreateWindowEx(nullptr, "Host", "", 0, {},
                                [this](win::HWND, win::UINT m, win::WPARAM w, win::LPARAM) {
                                  if (m == WM_DOWNLOAD_RESULT) results_.push_back(w);
                                  return win::LRESULT{0};
                                });
    first_.m_hWnd = host_;
    second_.m_hWnd = host_;
  }
  ~PluginTeardown() override {
    CloseProgress(&first_);
    CloseProgress(&second_);
    win::DestroyWindow(host_);
  }

  // A phone in normal mode that never answers the model-name request (DIAG_VERNO_F): the
  // worker's detection waits out its time-outs, several seconds of real time.
  std::unique_ptr<vphone::VirtualPhone> StartSilentPhone(int com) {
    vphone::PhoneOptions options;
    options.com = com;
    options.scenario = vphone::ParseScenario("phone.silent_cmd = 0\n");
    auto phone = std::make_unique<vphone::VirtualPhone>(options);
    std::string error;
    EXPECT_TRUE(phone->Start(&error)) << error;
    return phone;
  }
  // A connected port whose pane is open and whose worker is inside its first transaction.
  std::unique_ptr<vphone::VirtualPhone> StartWaitingDownload(int com, win::CWnd* parent) {
    auto phone = StartSilentPhone(com);
    EXPECT_EQ(IsConnected(com), 1);
    EXPECT_EQ(OpenProgress(parent, com, 0), 1);
    Pump(300);
    EXPECT_GE(phone->RequestsSeen(0x00), 1u);
    return phone;
  }
  void Pump(int ms) {
    const auto end = Clock::now() + milliseconds(ms);
    while (Clock::now() < end) win::PumpMessages(10);
  }
  static tr52::ModuleRoot& Root() { return *AttachedModuleRoot(); }
  static bool HasSession(int port) { return Root().Sessions().Has(port); }
  static size_t PaneCount() { return Root().Dialogs().Count(); }

  static tr52test::TempDir* dir_;
  static tr52test::ScopedEnv* table_;
  win::HWND host_ = nullptr;
  // Two window objects of the same host window: two panes, told apart by their objects.
  win::CWnd first_;
  win::CWnd second_;
  std::vector<win::WPARAM> results_;
};

tr52test::TempDir* PluginTeardown::dir_ = nullptr;
tr52test::ScopedEnv* PluginTeardown::table_ = nullptr;

TEST_F(PluginTeardown, CloseDuringALongTransactionReturnsAtOnce) {
  auto phone = StartWaitingDownload(91, &first_);
  const milliseconds took = Timed([&] { EXPECT_EQ(CloseProgress(&first_), 1); });
  EXPECT_LT(took, kPrompt);
  EXPECT_TRUE(win::GetChildren(host_).empty());
  EXPECT_FALSE(HasSession(91));
  EXPECT_EQ(PaneCount(), 0u);
  Pump(200);
  EXPECT_TRUE(results_.empty());  // the pane that would report it is gone
}

TEST_F(PluginTeardown, SecondPaneOnAPortIsRefused) {
  auto phone = StartWaitingDownload(94, &first_);
  EXPECT_EQ(OpenProgress(&second_, 94, 0), 0);
  Pump(100);
  EXPECT_EQ(PaneCount(), 1u);
  EXPECT_EQ(win::GetChildren(host_).size(), 1u);
  EXPECT_NE(ReadLog().find("OpenProgress :: Port[94] already has a progress pane"),
            std::string::npos);
  EXPECT_EQ(phone->RequestsSeen(0x00), 1u);  // one worker talks to the phone, not two
}

// Every operation that fails half-way answers its failure value, logs the failure and leaves no
// window, pane or running worker behind.
TEST_F(PluginTeardown, FailuresStayInsideTheOperations) {
  struct Row {
    const char* name;
    FailingFrontEnd::At at;
    bool paneOpenBefore;
    std::function<int(PluginOps&, win::CWnd*, int)> call;
    bool sessionKept;  // the port's session is still registered afterwards
  };
  const auto open = [](PluginOps& ops, win::CWnd* parent, int port) {
    return ops.OpenProgress(parent, port, 0);
  };
  const Row rows[] = {
      {"OpenProgress, pane being made", FailingFrontEnd::At::HostRepaint, false, open, true},
      // The worker has started by then: it is stopped and its spent session goes with it.
      {"OpenProgress, pane being shown", FailingFrontEnd::At::PaneShown, false, open, false},
      {"CloseProgress", FailingFrontEnd::At::HostRepaint, true,
       [](PluginOps& ops, win::CWnd* parent, int) { return ops.CloseProgress(parent); }, false},
      {"ShowConfiguration", FailingFrontEnd::At::ModalStarted, false,
       [](PluginOps& ops, win::CWnd* parent, int) { return ops.ShowConfiguration(parent); }, true},
  };
  PluginOps ops{};
  FillPluginOps(ops);
  int port = 95;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<vphone::VirtualPhone> phone;
    if (row.paneOpenBefore) {
      phone = StartWaitingDownload(port, &first_);
    } else {
      phone = StartSilentPhone(port);
      ASSERT_EQ(IsConnected(port), 1);
    }
    int result = -1;
    milliseconds took{};
    {
      FailingFrontEnd frontEnd(host_, row.at);
      took = Timed([&] { EXPECT_NO_THROW(result = row.call(ops, &first_, port)); });
    }
    EXPECT_EQ(result, 0);
    EXPECT_LT(took, kPrompt);
    EXPECT_TRUE(win::GetChildren(host_).empty());
    EXPECT_EQ(PaneCount(), 0u);
    EXPECT_EQ(HasSession(port), row.sessionKept);
    EXPECT_NE(ReadLog().find("front end out of order"), std::string::npos);
    // A session that is kept still downloads: its pane opens once the front end works again.
    if (row.sessionKept) {
      EXPECT_EQ(OpenProgress(&first_, port, 0), 1);
      Pump(300);
      EXPECT_GE(phone->RequestsSeen(0x00), 1u);
      EXPECT_EQ(CloseProgress(&first_), 1);
    }
    ++port;
  }
}

// Unloading in the middle of downloads. A suite of its own, run after the one above: the process
// log stays closed once the module has been unloaded in this process.
class PluginUnload : public PluginTeardown {};

TEST_F(PluginUnload, EndsLivePanesBeforeFreeingTheModule) {
  auto phone1 = StartWaitingDownload(92, &first_);
  auto phone2 = StartWaitingDownload(93, &second_);
  const std::vector<win::HWND> panes = win::GetChildren(host_);
  ASSERT_EQ(panes.size(), 2u);
  const milliseconds took = Timed([] { ModuleDetach(); });
  ModuleAttach();  // for the tests after this one
  EXPECT_LT(took, kPrompt);
  for (win::HWND pane : panes) EXPECT_FALSE(win::IsWindow(pane));
  // No clock tick nor late step message may reach a pane of the unloaded module.
  Pump(1500);
  EXPECT_TRUE(results_.empty());
  EXPECT_FALSE(HasSession(92));
  EXPECT_FALSE(HasSession(93));
}

}  // namespace
}  // namespace tr52
