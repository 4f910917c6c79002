#include "frame/host_operations.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/printable_text.h"
#include "base/process_log.h"
#include "base/settings_file.h"
#include "frame/contained_call.h"
#include "frame/module_entry.h"
#include "frame/port_teardown.h"
#include "link/port_view.h"
#include "session/download_session.h"
#include "session/session_registry.h"
#include "ui/config_dialog.h"
#include "ui/dialog_registry.h"
#include "ui/progress_dialog.h"

namespace tr52 {

namespace {

using PortPresence = PortView::Presence;

// Whether a phone port with this number is there, from the module's port view. A failing
// listing is logged and reported as unknown.
PortPresence FindPhonePort(PortView& ports, const char* operation, int port) {
  std::string why;
  const PortPresence presence = ports.PhonePort(port, why);
  if (presence == PortPresence::Unknown)
    Log("%s :: Port[%d] port list failed: %s", operation, port, PrintableText(why).c_str());
  return presence;
}

int StubOperation0(int) {
  return 0;
}
int StubOperation1(win::CWnd*, int, int) {
  return 0;
}
int StubOperation2(win::CWnd*) {
  return 0;
}
int StubOperation3(char*, int) {
  return 0;
}

int IsDisconnectedBody(PortView& ports, int port) {
  // An unknown state answers 0 (the failure value): the host then keeps the port as it is.
  return FindPhonePort(ports, "IsDisconnected", port) == PortPresence::Absent ? 1 : 0;
}

int IsConnectedBody(PortView& ports, int port) {
  if (FindPhonePort(ports, "IsConnected", port) != PortPresence::Present) return 0;
  SessionParams params;
  params.flowType = kFlowDownload;
  params.port = static_cast<uint8_t>(port);
  std::unique_ptr<DownloadSession> session;
  try {
    session = std::make_unique<DownloadSession>(params);
  } catch (const std::exception& e) {
    Log("IsConnected :: Port[%d] session not created: %s", port, e.what());
    return 0;
  }
  if (!session->OpenPort()) {
    Log("IsConnected :: Port[%d] Open Fail", port);
    return 0;
  }
  SessionRegistry& sessions = SessionRegistry::Instance();
  std::lock_guard<std::recursive_mutex> hold(sessions.Lock());
  sessions.Add(session.get());
  session.release();
  return 1;
}

int OpenProgressBody(win::CWnd* parent, int port, int extra) {
  DialogRegistry& dialogs = DialogRegistry::Instance();
  {
    // Two workers must never share one link: one pane per port.
    std::lock_guard<std::recursive_mutex> hold(dialogs.Lock());
    if (dialogs.FindByPort(port) != nullptr) {
      Log("OpenProgress :: Port[%d] already has a progress pane", port);
      return 0;
    }
  }
  {
    SessionRegistry& sessions = SessionRegistry::Instance();
    std::lock_guard<std::recursive_mutex> hold(sessions.Lock());
    if (sessions.FindByPort(port) == nullptr) return 0;
  }
  auto dialog = std::make_unique<ProgressDialog>();
  try {
    if (!dialog->Create(parent, port, extra)) return 0;
    win::ShowWindow(dialog->Hwnd(), win::SW_SHOW);
    std::lock_guard<std::recursive_mutex> hold(dialogs.Lock());
    dialogs.Add(dialog.get());
  } catch (...) {
    if (dialog->WorkerStarted()) EndStartedPane(std::move(dialog), port);
    throw;
  }
  dialog.release();
  return 1;
}

int CloseProgressBody(win::CWnd* parent) {
  // Freed in reverse order when this returns, also when destroying the window throws: the pane
  // first (its destructor waits for the worker), then the session that worker used.
  std::unique_ptr<DownloadSession> session;
  std::unique_ptr<ProgressDialog> dialog;
  {
    // Dialog lock first, then the session lock.
    DialogRegistry& dialogs = DialogRegistry::Instance();
    std::lock_guard<std::recursive_mutex> holdDialogs(dialogs.Lock());
    ProgressDialog* d = dialogs.FindByParent(parent);
    if (d == nullptr) return 0;
    SessionRegistry& sessions = SessionRegistry::Instance();
    std::lock_guard<std::recursive_mutex> holdSessions(sessions.Lock());
    if (DownloadSession* s = sessions.FindByPort(d->Port())) {
      // A host may close before the final result: the worker must not make it wait out a
      // transaction.
      AbortTransactions(*s);
      sessions.Remove(s);
      session.reset(s);
    }
    // A pane whose session is gone goes too, with its thread.
    dialogs.Remove(d);
    dialog.reset(d);
  }
  // The worker thread may still be finishing after its final message, and it uses the session
  // and the pane until it ends: wait for it before freeing them. This happens outside the locks
  // so that a worker still looking up its session cannot deadlock with us. Destroying the window
  // first releases a worker blocked in a send to it.
  dialog->DestroyWindow();
  dialog->JoinWorker();
  return 1;
}

int ShowConfigurationBody(win::CWnd* parent) {
  ConfigDialog dialog(parent);
  const win::HWND owner = win::SafeHwnd(parent);
  const std::vector<win::HWND> before = win::GetChildren(owner);
  try {
    dialog.DoModal();
  } catch (...) {
    // A modal loop that fails may leave its window open; its handler points at `dialog`, so it
    // must go before `dialog` does.
    for (win::HWND h : win::GetChildren(owner)) {
      if (std::find(before.begin(), before.end(), h) != before.end()) continue;
      try {
        win::DestroyWindow(h);
      } catch (...) {
        // The failure that matters is the one being passed on.
      }
    }
    throw;
  }
  return 1;
}

int GetConfigInfoBody(char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  const std::string text =
      std::string("PATH_BIN") + " : " + Settings().Read("TR52", "PATH_BIN", "NULL") + "\r\n";
  if (text.size() < static_cast<size_t>(size))
    std::memcpy(buffer, text.c_str(), text.size() + 1);
  else
    std::memcpy(buffer, text.data(), static_cast<size_t>(size));
  return 1;
}

}  // namespace

int IsDisconnected(int port) {
  return ContainedCall("IsDisconnected",
                       [&] { return IsDisconnectedBody(ModulePortView(), port); });
}

int IsConnected(int port) {
  return ContainedCall("IsConnected", [&] { return IsConnectedBody(ModulePortView(), port); });
}

int OpenProgress(win::CWnd* parent, int port, int extra) {
  return ContainedCall("OpenProgress", [&] { return OpenProgressBody(parent, port, extra); });
}

int CloseProgress(win::CWnd* parent) {
  return ContainedCall("CloseProgress", [&] { return CloseProgressBody(parent); });
}

int ShowConfiguration(win::CWnd* parent) {
  return ContainedCall("ShowConfiguration", [&] { return ShowConfigurationBody(parent); });
}

int GetConfigInfo(char* buffer, int size) {
  return ContainedCall("GetConfigInfo", [&] { return GetConfigInfoBody(buffer, size); });
}

void FillPluginOps(PluginOps& table) {
  table.IsDisconnected = &IsDisconnected;
  table.IsConnected = &IsConnected;
  table.OpenProgress = &OpenProgress;
  table.CloseProgress = &CloseProgress;
  table.ShowConfiguration = &ShowConfiguration;
  table.GetConfigInfo = &GetConfigInfo;
}

void FillStubOps(PluginOps& table) {
  table.IsDisconnected = &StubOperation0;
  table.IsConnected = &StubOperation0;
  table.OpenProgress = &StubOperation1;
  table.CloseProgress = &StubOperation2;
  table.ShowConfiguration = &StubOperation2;
  table.GetConfigInfo = &StubOperation3;
}

}  // namespace tr52
