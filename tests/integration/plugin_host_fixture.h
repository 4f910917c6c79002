// A test host for whole downloads: the plug-in module attached once per test program with its
// settings and log in a temporary folder, virtual phones in a port table of their own, and the
// host's road through the six operations (connect, open the pane, wait for the one result,
// close).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/process_log.h"
#include "base/settings_file.h"
#include "frame/host_operations.h"
#include "frame/module_entry.h"
#include "frame/module_root.h"
#include "platform/process_info.h"
#include "session/download_record.h"
#include "session/download_session.h"
#include "session/session_registry.h"
#include "support/download_package.h"
#include "support/log_capture.h"
#include "support/scoped_clock.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "ui/dialog_registry.h"
#include "ui/progress_dialog.h"
#include "vphone/scenario.h"
#include "vphone/virtual_phone.h"
#include "win/controls.h"

namespace tr52test {

class PluginHost : public ::testing::Test {
 protected:
  // The result a host sees for a download that never reported one.
  static constexpr win::WPARAM kNoResult = ~win::WPARAM{0};

  static void SetUpTestSuite() {
    dir_ = new TempDir();
    // The port table where a user's is, in a memory file system (the runtime folder): a phone
    // back from a reboot declares its port with no disk flush to wait for, well within the
    // shortened waits.
    tableDir_ = new TempDir(access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : "");
    table_ = new ScopedEnv("TR52_PORT_TABLE", tableDir_->File("ports"));
    // The host executable stands in the temporary folder: settings and log go there.
    tr52::SetExecutablePathOverride(dir_->File("host"));
    tr52::ModuleAttach();
    package_ = new DownloadPackage(WriteDownloadPackage(dir_->File("TR52_TEST.dz")));
    UsePackage(package_->path);
  }
  // The attached module's root (the suite attaches the module first).
  static tr52::ModuleRoot& Root() { return *tr52::AttachedModuleRoot(); }
  // A download of the test package into the phone on `com`, with the plug-in's image mask.
  static tr52::DownloadJob PackageJob(int com, uint32_t options) {
    tr52::DownloadJob job;
    job.packagePath = package_->path;
    job.port = static_cast<uint8_t>(com);
    job.imageMask = tr52::kPluginImageMask;
    job.options = options;
    return job;
  }

  static void TearDownTestSuite() {
    tr52::ModuleDetach();
    tr52::SetExecutablePathOverride("");
    delete package_;
    delete table_;
    delete tableDir_;
    delete dir_;
  }

  // Points the settings at a package; a package other than the loaded one is loaded afresh.
  static void UsePackage(const std::string& path) {
    if (Root().Settings().Read(tr52::kSettingsSection, tr52::kPathBinKey, "") != path)
      Root().Images().ResetForTesting();
    std::string error;
    EXPECT_TRUE(Root().Settings().Write(tr52::kSettingsSection, tr52::kPathBinKey, path, error))
        << error;
  }

  // Downloads run 100 times fast in all: the process clock runs `clockFactor` times fast and
  // the named waits are shortened the rest of the way through the download's time scale. The
  // protocol's answer time-outs follow the clock alone: healthy downloads keep them real (1), so
  // that a loaded machine running tests side by side never misses an answer; fault rows that
  // must wait for time-outs take them 10 times shorter.
  explicit PluginHost(double clockFactor = 10)
      : rebootDelayMs_(static_cast<uint64_t>(10 * clockFactor)),
        clock_(clockFactor),
        waits_("TR52_TIME_SCALE", std::to_string(100.0 / clockFactor)) {
    host_ = win::CreateWindowEx(nullptr, "Host", "", 0, {},
                                [this](win::HWND, win::UINT m, win::WPARAM w, win::LPARAM) {
                                  if (m == tr52::WM_DOWNLOAD_RESULT) results_.push_back(w);
                                  return win::LRESULT{0};
                                });
    parent_.m_hWnd = host_;
    logStart_ = LogText().size();
    recordStart_ = RecordText().size();
  }
  ~PluginHost() override { win::DestroyWindow(host_); }

  std::unique_ptr<vphone::VirtualPhone> StartPhone(int com, vphone::Mode mode,
                                                   const std::string& scenario = "") {
    vphone::PhoneOptions options;
    options.com = com;
    options.startMode = mode;
    options.rebootDelayMs = rebootDelayMs_;
    options.scenario = vphone::ParseScenario(scenario);
    auto phone = std::make_unique<vphone::VirtualPhone>(options);
    std::string error;
    EXPECT_TRUE(phone->Start(&error)) << error;
    return phone;
  }

  // Connects the port, opens its pane and serves it until the host has a result (at most
  // `realSeconds`); the pane stays open. The result's wParam, or kNoResult.
  win::WPARAM Download(int port, int realSeconds = 20) {
    results_.clear();
    if (tr52::IsConnected(port) != 1) return kNoResult;
    if (tr52::OpenProgress(&parent_, port, 0) != 1) return kNoResult;
    for (int i = 0; i < realSeconds * 100 && results_.empty(); ++i) win::PumpMessages(10);
    return results_.empty() ? kNoResult : results_.front();
  }
  // Closes the pane and session of the last download; true when the operation succeeded.
  bool Close() {
    const bool closed = tr52::CloseProgress(&parent_) == 1;
    win::PumpMessages(20);
    return closed;
  }

  std::vector<std::string> PaneLines() {
    std::vector<std::string> lines;
    Root().Dialogs().WithPane(&parent_, [&](tr52::ProgressDialog& d) {
      auto list = win::GetListBoxState(win::GetDlgItem(d.Hwnd(), 7005));
      if (list) lines = list->items;
    });
    return lines;
  }
  int SessionFlowType(int port) {
    int flow = -1;
    Root().Sessions().WithSession(port, [&](tr52::DownloadSession& s) { flow = s.Job().flowType; });
    return flow;
  }

  // The plug-in log written since the test started, a line each, time stamps removed.
  std::vector<std::string> LogLines() const { return LogLinesOf(LogText().substr(logStart_)); }
  bool Logged(const std::string& line) const {
    for (const auto& l : LogLines())
      if (l == line) return true;
    return false;
  }

  // The download records written since the test started, in order (a line that is no record
  // fails the test).
  std::vector<tr52::DownloadRecord> Records() const {
    std::vector<tr52::DownloadRecord> records;
    std::istringstream lines(RecordText().substr(recordStart_));
    for (std::string line; std::getline(lines, line);) {
      auto record = tr52::ParseDownloadRecord(line);
      EXPECT_TRUE(record.has_value()) << line;
      if (record) records.push_back(std::move(*record));
    }
    return records;
  }
  // The record of the last download of `com` since the test started.
  std::optional<tr52::DownloadRecord> LastRecord(int com) const {
    std::optional<tr52::DownloadRecord> last;
    for (auto& record : Records())
      if (record.com == com) last = std::move(record);
    return last;
  }

  static TempDir* dir_;
  static TempDir* tableDir_;
  static ScopedEnv* table_;
  static DownloadPackage* package_;
  // How long a phone takes to reboot, on the clock: 10 ms of real time whatever the clock.
  uint64_t rebootDelayMs_;
  ScopedClock clock_;
  ScopedEnv waits_;
  win::HWND host_ = nullptr;
  win::CWnd parent_;
  std::vector<win::WPARAM> results_;

 private:
  static std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  static std::string LogText() { return FileText(tr52::ProcessLog::DefaultPath()); }
  static std::string RecordText() {
    return FileText(tr52::RecordPathFor(tr52::ProcessLog::DefaultPath()));
  }
  size_t logStart_ = 0;
  size_t recordStart_ = 0;
};

inline TempDir* PluginHost::dir_ = nullptr;
inline TempDir* PluginHost::tableDir_ = nullptr;
inline ScopedEnv* PluginHost::table_ = nullptr;
inline DownloadPackage* PluginHost::package_ = nullptr;

}  // namespace tr52test
