#include "ui/progress_dialog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>

#include "base/messages.h"
#include "base/process_log.h"
#include "base/settings_file.h"
#include "platform/clock.h"
#include "session/download_session.h"
#include "session/download_steps.h"
#include "session/session_registry.h"
#include "ui/dialog_templates.h"
#include "ui/progress_reporter.h"
#include "win/controls.h"
#include "win/dialog.h"

namespace tr52 {

namespace {

// Captions the pane adds for the step codes it knows.
const char* StepCaption(win::WPARAM code) {
  switch (code) {
    case TYPE_WPARAM_BATTERY_LEVEL_CHECK:
      return "Battery Level";
    case TYPE_WPARAM_ERASE_MODULE:
      return "Erase Module";
    case TYPE_WPARAM_CHANGE_DLOAD:
      return "Change Dload";
    case TYPE_WPARAM_WRITE_AMSS_TO_RAM:
      return "Write RAM";
    case TYPE_WPARAM_WRITE_TO_FLASH:
      return "Write Flash";
    case TYPE_WPARAM_RESET_THE_PHONE_1ST:
      return "Reset";
    case TYPE_WPARAM_WRITE_MODULE:
      return "Write Module";
    case TYPE_WPARAM_RESET_THE_PHONE_2ND:
      return "Reset";
    case TYPE_WPARAM_ERASE_MEDIA:
      return "Erase Media";
    case TYPE_WPARAM_WRITE_MEDIA:
      return "Write Media";
    case TYPE_WPARAM_LOAD_BIN:
      return "Load Bin";
    default:
      return nullptr;
  }
}

}  // namespace

ProgressDialog::ProgressDialog(SessionRegistry& sessions, const SettingsFile& settings)
    : ProgressDialog([](ProgressDialog& d) { return d.RunDownload(); }) {
  sessions_ = &sessions;
  settings_ = &settings;
}

ProgressDialog::ProgressDialog(RunOperation run) : run_(std::move(run)) {}

ProgressDialog::~ProgressDialog() {
  try {
    DestroyWindow();
  } catch (...) {
    // A failing front end must not stop the teardown: the worker is still waited for.
  }
  JoinWorker();
}

bool ProgressDialog::Create(win::CWnd* parent, int port, int extra) {
  parent_ = parent;
  parentHwnd_ = parent ? parent->m_hWnd : nullptr;
  port_ = port;
  extra_ = extra;
  win::HWND hwnd = win::CreateDialogFromTemplate(
      parentHwnd_, kProgressDialogTemplate,
      [this](win::HWND h, win::UINT msg, win::WPARAM wp, win::LPARAM lp) {
        return HandleMessage(h, msg, wp, lp);
      });
  if (hwnd == nullptr) return false;
  hwnd_ = hwnd;
  return true;
}

void ProgressDialog::DestroyWindow() {
  if (win::HWND h = hwnd_.exchange(nullptr)) win::DestroyWindow(h);
}

void ProgressDialog::JoinWorker() {
  if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

void ProgressDialog::AddLine(const std::string& text) {
  char number[16];
  std::snprintf(number, sizeof(number), "%d.", lineCounter_);
  ++lineCounter_;
  const std::string line = number + text;
  win::HWND list = win::GetDlgItem(hwnd_.load(), IDC_STEP_LIST);
  const win::LRESULT index =
      win::SendMessage(list, win::LB_ADDSTRING, 0, reinterpret_cast<win::LPARAM>(line.c_str()));
  win::SendMessage(list, win::LB_SETCURSEL, static_cast<win::WPARAM>(index), 0);
}

void ProgressDialog::StartClock() {
  startMs_.store(NowMs() + 1);  // +1 so that 0 keeps meaning "not started"
  if (win::HWND h = hwnd_.load()) win::SetTimer(h, kClockTimer, kClockPeriodMs);
}

void ProgressDialog::OnInit(win::HWND hwnd) {
  hwnd_ = hwnd;
  char label[32];
  std::snprintf(label, sizeof(label), "COM %d", port_);
  win::SetWindowText(win::GetDlgItem(hwnd, IDC_PORT_LABEL), label);
  win::HWND bar = win::GetDlgItem(hwnd, IDC_PROGRESS_BAR);
  win::SendMessage(bar, win::PBM_SETPOS, 0, 0);
  win::SendMessage(bar, win::PBM_SETRANGE, 0, static_cast<win::LPARAM>(win::MAKELONG(0, 100)));
  lineCounter_ = 1;
  try {
    worker_ = std::thread([this] { ThreadEntry(); });
  } catch (const std::system_error& e) {
    // No worker, no download: the host still gets its one result.
    Log("[COM%d] TYPE_WPARAM_UPGRADE_ERROR : worker thread not started (%s)", port_, e.what());
    win::PostMessage(parentHwnd_, WM_DOWNLOAD_RESULT,
                     win::MAKELONG(ToInt(ResultCode::Exception), 1), 0);
  }
}

void ProgressDialog::ThreadEntry() {
  try {
    // The thread's message queue of the window layer is made now rather than at its first send
    // to the pane: making it registers the thread's clean-up with the loader, under the
    // loader's lock, and a module unload holds that lock while it waits for this thread.
    win::PumpMessages(0);
    run_(*this);
  } catch (...) {
    Log("TYPE_WPARAM_UPGRADE_ERROR : Catch error %d", errno);
    win::PostMessage(parentHwnd_, WM_DOWNLOAD_RESULT,
                     win::MAKELONG(ToInt(ResultCode::Exception), 1), 0);
  }
}

void ProgressDialog::OnTimer(win::UINT_PTR id) {
  const uint64_t start = startMs_.load();
  if (start == 0) return;
  const uint64_t now = NowMs() + 1;
  const double seconds = now > start ? static_cast<double>((now - start) / 1000) : 0.0;
  char text[32];
  std::snprintf(text, sizeof(text), "%.0f s", seconds);
  (void)id;
  win::SetWindowText(win::GetDlgItem(hwnd_.load(), IDC_TIME_LABEL), text);
}

win::LRESULT ProgressDialog::OnCopyData(const win::COPYDATASTRUCT* record) {
  if (record == nullptr || record->dwData > 3) return 0;
  std::string text;
  if (record->lpData != nullptr && record->cbData > 0) {
    const auto* p = static_cast<const char*>(record->lpData);
    text.assign(p, strnlen(p, record->cbData));
  }
  AddLine(text);
  return 1;
}

void ProgressDialog::PostResult(unsigned lowWord) {
  win::PostMessage(parentHwnd_, WM_DOWNLOAD_RESULT, win::MAKELONG(lowWord, 1), 0);
}

void ProgressDialog::OnStep(win::WPARAM code, win::LPARAM lParam) {
  char text[48];
  switch (code) {
    case TYPE_WPARAM_UPGRADE_ERROR: {
      std::snprintf(text, sizeof(text), "-.ERROR %d ", static_cast<int>(lParam));
      AddLine(text);
      const win::WPARAM result = win::MAKELONG(static_cast<unsigned>(lParam) & 0xFFFFu, 1);
      Log("TYPE_WPARAM_UPGRADE_ERROR : %d, wparam=%d", static_cast<int>(lParam),
          static_cast<int>(result));
      PostResult(static_cast<unsigned>(lParam) & 0xFFFFu);
      return;
    }
    case TYPE_WPARAM_UPGRADE_OK:
      AddLine("OK");
      PostResult(1);
      return;
    case TYPE_WPARAM_PROGRESS_POS:
      win::SendMessage(win::GetDlgItem(hwnd_.load(), IDC_PROGRESS_BAR), win::PBM_SETPOS,
                       static_cast<win::WPARAM>(lParam), 0);
      return;
    default:
      if (const char* caption = StepCaption(code)) {
        AddLine(caption);
      } else {
        AddLine("-.Unknown");
        PostResult(0);
      }
      return;
  }
}

win::LRESULT ProgressDialog::HandleMessage(win::HWND hwnd, win::UINT msg, win::WPARAM wParam,
                                           win::LPARAM lParam) {
  switch (msg) {
    case win::WM_CREATE:
      // Known from the first message on, so that a creation failing half-way still destroys
      // the window (whose handler points at this object) with the object.
      hwnd_ = hwnd;
      return 0;
    case win::WM_INITDIALOG:
      OnInit(hwnd);
      return 1;
    case win::WM_TIMER:
      if (wParam == kClockTimer) OnTimer(wParam);
      return 0;
    case win::WM_COPYDATA:
      return OnCopyData(reinterpret_cast<const win::COPYDATASTRUCT*>(lParam));
    case WM_DOWNLOAD_STEP:
      OnStep(wParam, lParam);
      return 0;
    default:
      return 0;
  }
}

int ProgressDialog::RunDownload() {
  if (sessions_ == nullptr || settings_ == nullptr) return 0;
  const std::string path = settings_->Read(kSettingsSection, kPathBinKey, kSettingsDefault);
  StartClock();

  // The download's job, made here once: everything after reads it.
  const DownloadJob job{.flowType = kFlowDownload,
                        .packagePath = path,
                        .port = static_cast<uint8_t>(port_),
                        .imageMask = kPluginImageMask,
                        .options = kPluginOptions,
                        .notifyMsg = WM_DOWNLOAD_STEP,
                        .dialog = hwnd_.load(),
                        .waitScale = WaitScaleForPort(port_)};

  // Start stores the job under the registry's lock: the host's thread reads the session's port
  // under that lock (CloseProgress, OpenProgress), so the worker must not write it unlocked.
  // The session is run outside the lock; it stays alive until this pane's worker was waited
  // for (CloseProgress and the module's detach free the pane first).
  DownloadSession* session = nullptr;
  sessions_->WithSession(port_, [&](DownloadSession& s) {
    s.Start(job);
    session = &s;
  });
  if (session == nullptr) return 0;
  ProgressReporter progress(job.dialog, job.notifyMsg, job.port);
  return session->Run(progress) == ResultCode::Ok ? 1 : 0;
}

}  // namespace tr52
