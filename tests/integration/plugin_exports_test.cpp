// The built plug-in module as a host sees it: loaded with dlopen, two C entry points, the
// operation table, the log footer written when it is unloaded, and an unload in the middle of
// downloads.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/process_log.h"
#include "frame/plugin_ops.h"
#include "platform/process_info.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "vphone/scenario.h"
#include "vphone/virtual_phone.h"
#include "win/window.h"

namespace {

std::string ModulePath() {
  return tr52::ExecutableDir() + "TR52_091117_MP.so";
}

void PumpFor(std::chrono::milliseconds span) {
  const auto end = std::chrono::steady_clock::now() + span;
  while (std::chrono::steady_clock::now() < end) win::PumpMessages(10);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class PluginModule : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    a130_ = reinterpret_cast<PluginEntry>(dlsym(handle_, "_A130"));
    a129_ = reinterpret_cast<PluginEntry>(dlsym(handle_, "_A129"));
  }
  void TearDown() override {
    if (handle_ != nullptr) dlclose(handle_);
  }

  // A private port table for every test (and for the child process of the unload test).
  tr52test::TempDir ports_;
  tr52test::ScopedEnv tableEnv_{"TR52_PORT_TABLE", ports_.Path()};
  void* handle_ = nullptr;
  PluginEntry a130_ = nullptr;
  PluginEntry a129_ = nullptr;
};

TEST_F(PluginModule, ExportsBothEntriesAndNothingInternal) {
  ASSERT_NE(a130_, nullptr);
  ASSERT_NE(a129_, nullptr);
  EXPECT_EQ(dlsym(handle_, "_ZN4tr5213GetConfigInfoEPci"), nullptr);
  EXPECT_EQ(dlsym(handle_, "_ZN4tr523LogEPKcz"), nullptr);
}

TEST_F(PluginModule, CurrentEntryFillsTheTable) {
  ASSERT_NE(a130_, nullptr);
  EXPECT_EQ(a130_(nullptr), 0);
  PluginOps ops{};
  ASSERT_EQ(a130_(&ops), 1);
  ASSERT_NE(ops.IsDisconnected, nullptr);
  ASSERT_NE(ops.IsConnected, nullptr);
  ASSERT_NE(ops.OpenProgress, nullptr);
  ASSERT_NE(ops.CloseProgress, nullptr);
  ASSERT_NE(ops.ShowConfiguration, nullptr);
  ASSERT_NE(ops.GetConfigInfo, nullptr);
  // No phone on COM 53; no pane to close for an unknown parent.
  EXPECT_EQ(ops.IsDisconnected(53), 1);
  EXPECT_EQ(ops.IsConnected(53), 0);
  win::CWnd nobody;
  EXPECT_EQ(ops.CloseProgress(&nobody), 0);
  char text[300];
  ASSERT_EQ(ops.GetConfigInfo(text, sizeof(text)), 1);
  const std::string info = text;
  EXPECT_EQ(info.rfind("PATH_BIN : ", 0), 0u) << info;
  EXPECT_EQ(info.substr(info.size() - 2), "\r\n");
}

TEST_F(PluginModule, ObsoleteEntryGivesStubsAndWarns) {
  ASSERT_NE(a129_, nullptr);
  EXPECT_EQ(a129_(nullptr), 0);
  PluginOps ops{};
  EXPECT_EQ(a129_(&ops), 0);
  ASSERT_NE(ops.IsDisconnected, nullptr);
  EXPECT_EQ(ops.IsDisconnected(1), 0);
  EXPECT_EQ(ops.IsConnected(1), 0);
  EXPECT_EQ(ops.GetConfigInfo(nullptr, 0), 0);
  // The module writes its own log beside the host executable; unloading finishes it.
  dlclose(handle_);
  handle_ = nullptr;
  const std::string log = ReadFile(tr52::ProcessLog::DefaultPath());
  EXPECT_NE(log.find("Version 36 at least is required.\r\n"), std::string::npos);
  EXPECT_NE(log.find("Log finished\r\n"), std::string::npos);
}

// The host's own front end may fail while the obsolete entry shows its warning: the failure is
// logged and the entry still answers 0, with the stub table filled.
TEST_F(PluginModule, ObsoleteEntryKeepsAFailingMessageBoxInside) {
  ASSERT_NE(a129_, nullptr);
  struct FailingBoxes : win::FrontEnd {
    int ShowMessageBox(win::HWND, const std::string&, const std::string&, win::UINT) override {
      throw std::runtime_error("message box out of order");
    }
  } frontEnd;
  win::SetFrontEnd(&frontEnd);
  PluginOps ops{};
  int result = -1;
  EXPECT_NO_THROW(result = a129_(&ops));
  win::SetFrontEnd(nullptr);
  EXPECT_EQ(result, 0);
  ASSERT_NE(ops.IsConnected, nullptr);
  EXPECT_EQ(ops.IsConnected(1), 0);
  dlclose(handle_);
  handle_ = nullptr;
  const std::string log = ReadFile(tr52::ProcessLog::DefaultPath());
  EXPECT_NE(log.find("_A129 :: exception: message box out of order\r\n"), std::string::npos);
}

// The host unloads the module while two downloads wait on phones that never answer: the module
// must end both panes and workers before its code goes, so that no worker, clock tick or
// message handler runs into unmapped code. Runs in a child process, which a fault would kill.
TEST_F(PluginModule, UnloadWithTwoLiveDownloadsLeavesNothingRunning) {
  ASSERT_NE(a130_, nullptr);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        PluginOps ops{};
        a130_(&ops);
        win::HWND host = win::CreateWindowEx(nullptr, "Host", "", 0, {}, {});
        win::CWnd parents[2];
        std::vector<std::unique_ptr<vphone::VirtualPhone>> phones;
        for (int i = 0; i < 2; ++i) {
          vphone::PhoneOptions options;
          options.com = 88 + i;
          options.scenario = vphone::ParseScenario("phone.silent_cmd = 0\n");  // model name
          phones.push_back(std::make_unique<vphone::VirtualPhone>(options));
          if (!phones.back()->Start()) std::exit(2);
          parents[i].m_hWnd = host;
          if (ops.IsConnected(options.com) != 1) std::exit(3);
          if (ops.OpenProgress(&parents[i], options.com, 0) != 1) std::exit(4);
        }
        PumpFor(std::chrono::milliseconds(300));  // both workers wait for an answer
        dlclose(handle_);
        handle_ = nullptr;
        PumpFor(std::chrono::milliseconds(1500));  // a pane's clock would have ticked
        std::exit(win::GetChildren(host).empty() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
