#include "frame/host_operations.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "base/printable_text.h"
#include "base/process_log.h"
#include "base/settings_file.h"
#include "frame/contained_call.h"
#include "frame/module_entry.h"
#include "frame/module_root.h"
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

// The attached module's root; an operation called without one fails (and says so).
ModuleRoot* RootFor(const char* operation) {
  ModuleRoot* root = AttachedModuleRoot();
  if (root == nullptr) Log("%s :: the module is not attached", operation);
  return root;
}

int IsDisconnectedBody(PortView& ports, int port) {
  // An unknown state answers 0 (the failure value): the host then keeps the port as it is.
  return FindPhonePort(ports, "IsDisconnected", port) == PortPresence::Absent ? 1 : 0;
}

int IsConnectedBody(ModuleRoot& root, int port) {
  if (FindPhonePort(root.Ports(), "IsConnected", port) != PortPresence::Present) return 0;
  std::unique_ptr<DownloadSession> session;
  try {
    DownloadJob job;
    job.port = static_cast<uint8_t>(port);
    session = std::make_unique<DownloadSession>(job, root.Images());
  } catch (const std::exception& e) {
    Log("IsConnected :: Port[%d] session not created: %s", port, e.what());
    return 0;
  }
  if (!session->OpenPort()) {
    Log("IsConnected :: Port[%d] Open Fail", port);
    return 0;
  }
  root.Sessions().Add(std::move(session));
  return 1;
}

int OpenProgressBody(ModuleRoot& root, win::CWnd* parent, int port, int extra) {
  // Two workers must never share one link: one pane per port.
  if (root.Dialogs().HasPort(port)) {
    Log("OpenProgress :: Port[%d] already has a progress pane", port);
    return 0;
  }
  if (!root.Sessions().Has(port)) return 0;
  auto dialog = std::make_unique<ProgressDialog>(root.Sessions(), root.Settings());
  try {
    if (!dialog->Create(parent, port, extra)) return 0;
    win::ShowWindow(dialog->Hwnd(), win::SW_SHOW);
    root.Dialogs().Add(std::move(dialog));
  } catch (...) {
    if (dialog && dialog->WorkerStarted()) EndStartedPane(std::move(dialog), root.Sessions(), port);
    throw;
  }
  return 1;
}

int CloseProgressBody(ModuleRoot& root, win::CWnd* parent) {
  // Freed in reverse order when this returns, also when destroying the window throws: the pane
  // first (its destructor waits for the worker), then the session that worker used.
  std::unique_ptr<DownloadSession> session;
  const std::unique_ptr<ProgressDialog> dialog = root.Dialogs().TakeByParent(parent);
  if (!dialog) return 0;
  // A pane whose session is gone goes too, with its thread. A host may close before the final
  // result: the worker must not make it wait out a transaction.
  session = root.Sessions().Take(dialog->Port());
  if (session) AbortTransactions(*session);
  // The worker thread may still be finishing after its final message, and it uses the session
  // and the pane until it ends: wait for it before freeing them, outside the registries' locks
  // so that a worker still looking up its session cannot deadlock with us. Destroying the
  // window first releases a worker blocked in a send to it.
  dialog->DestroyWindow();
  dialog->JoinWorker();
  return 1;
}

int ShowConfigurationBody(win::CWnd* parent, SettingsFile& settings) {
  ConfigDialog dialog(parent, settings);
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

int GetConfigInfoBody(const SettingsFile& settings, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  const std::string text =
      std::string("PATH_BIN") + " : " + settings.Read("TR52", "PATH_BIN", "NULL") + "\r\n";
  if (text.size() < static_cast<size_t>(size))
    std::memcpy(buffer, text.c_str(), text.size() + 1);
  else
    std::memcpy(buffer, text.data(), static_cast<size_t>(size));
  return 1;
}

}  // namespace

int IsDisconnected(int port) {
  return ContainedCall("IsDisconnected", [&] {
    ModuleRoot* root = RootFor("IsDisconnected");
    return root != nullptr ? IsDisconnectedBody(root->Ports(), port) : 0;
  });
}

int IsConnected(int port) {
  return ContainedCall("IsConnected", [&] {
    ModuleRoot* root = RootFor("IsConnected");
    return root != nullptr ? IsConnectedBody(*root, port) : 0;
  });
}

int OpenProgress(win::CWnd* parent, int port, int extra) {
  return ContainedCall("OpenProgress", [&] {
    ModuleRoot* root = RootFor("OpenProgress");
    return root != nullptr ? OpenProgressBody(*root, parent, port, extra) : 0;
  });
}

int CloseProgress(win::CWnd* parent) {
  return ContainedCall("CloseProgress", [&] {
    ModuleRoot* root = RootFor("CloseProgress");
    return root != nullptr ? CloseProgressBody(*root, parent) : 0;
  });
}

int ShowConfiguration(win::CWnd* parent) {
  return ContainedCall("ShowConfiguration", [&] {
    ModuleRoot* root = RootFor("ShowConfiguration");
    return root != nullptr ? ShowConfigurationBody(parent, root->Settings()) : 0;
  });
}

int GetConfigInfo(char* buffer, int size) {
  return ContainedCall("GetConfigInfo", [&] {
    ModuleRoot* root = RootFor("GetConfigInfo");
    return root != nullptr ? GetConfigInfoBody(root->Settings(), buffer, size) : 0;
  });
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
