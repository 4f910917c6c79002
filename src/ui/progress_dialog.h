// The per-port progress pane: port label, elapsed-seconds clock, progress bar and numbered list
// of steps. Its initialisation starts the port's worker thread, which runs the download and
// reports back by posted step messages and sent WM_COPYDATA text lines.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "win/window.h"

namespace tr52 {

class SessionRegistry;
class SettingsFile;

class ProgressDialog {
 public:
  // The operation the worker thread runs; returns 1 for a successful download, else 0.
  using RunOperation = std::function<int(ProgressDialog&)>;

  static constexpr win::UINT_PTR kClockTimer = 3;
  static constexpr win::UINT kClockPeriodMs = 1000;

  // A pane that runs the download of its port's session in `sessions` (RunDownload) with the
  // package that `settings` name; both outlive the pane.
  ProgressDialog(SessionRegistry& sessions, const SettingsFile& settings);
  // A pane whose worker runs `run` instead.
  explicit ProgressDialog(RunOperation run);
  // Destroys the window (releasing a worker blocked in a send to it), then waits for the worker
  // thread to end. Never throws, even when destroying the window does.
  ~ProgressDialog();

  ProgressDialog(const ProgressDialog&) = delete;
  ProgressDialog& operator=(const ProgressDialog&) = delete;

  // Stores the three values and creates the pane from template 7001 as a child of the parent's
  // window (hidden; the caller shows it). Initialisation starts the worker thread.
  [[nodiscard]] bool Create(win::CWnd* parent, int port, int extra);
  void DestroyWindow();
  // Waits for the worker thread (if one was started) to end.
  void JoinWorker();
  // True from the start of the worker thread until it was joined.
  bool WorkerStarted() const { return worker_.joinable(); }

  // Appends "<n>.<text>" to the list and selects it.
  void AddLine(const std::string& text);
  // Notes the start time and starts the one-second clock (timer 3). Callable from any thread.
  void StartClock();

  // The download of this pane's port: settings, image paths, clock, session look-up, then the
  // session's Start and Run. 1 for result Ok, else 0 (also without a session registry).
  [[nodiscard]] int RunDownload();

  win::HWND Hwnd() const { return hwnd_.load(); }
  win::CWnd* Parent() const { return parent_; }
  win::HWND ParentHwnd() const { return parentHwnd_; }
  int Port() const { return port_; }
  int Extra() const { return extra_; }
  int NextLineNumber() const { return lineCounter_; }

  // The window procedure (owner thread).
  win::LRESULT HandleMessage(win::HWND hwnd, win::UINT msg, win::WPARAM wParam, win::LPARAM lParam);

 private:
  void OnInit(win::HWND hwnd);
  void OnTimer(win::UINT_PTR id);
  win::LRESULT OnCopyData(const win::COPYDATASTRUCT* record);
  void OnStep(win::WPARAM code, win::LPARAM lParam);
  void PostResult(unsigned lowWord);
  void ThreadEntry();

  RunOperation run_;
  SessionRegistry* sessions_ = nullptr;     // where RunDownload finds its session; may be null
  const SettingsFile* settings_ = nullptr;  // where RunDownload reads the package path
  std::atomic<win::HWND> hwnd_{nullptr};
  win::CWnd* parent_ = nullptr;
  win::HWND parentHwnd_ = nullptr;
  int port_ = 0;
  int extra_ = 0;
  std::thread worker_;
  std::atomic<uint64_t> startMs_{0};
  int lineCounter_ = 1;
};

}  // namespace tr52
