#include "frame/port_teardown.h"

#include <mutex>
#include <vector>

#include "link/phone_link.h"
#include "session/download_session.h"
#include "session/session_registry.h"
#include "session/step_runner.h"
#include "ui/dialog_registry.h"
#include "ui/progress_dialog.h"

namespace tr52 {

void AbortTransactions(DownloadSession& session) {
  if (PhoneLink* link = session.Runner().Link()) link->Abort();
}

void EndStartedPane(std::unique_ptr<ProgressDialog> dialog, int port) {
  std::unique_ptr<DownloadSession> session;
  {
    SessionRegistry& sessions = SessionRegistry::Instance();
    std::lock_guard<std::recursive_mutex> hold(sessions.Lock());
    if (DownloadSession* s = sessions.FindByPort(port)) {
      AbortTransactions(*s);
      sessions.Remove(s);
      session.reset(s);
    }
  }
  dialog.reset();  // destroys the window and waits for the worker, before the session goes
}

void EndAllPorts() {
  // Declared in this order so that the panes (and their workers) always go first.
  std::vector<std::unique_ptr<DownloadSession>> sessions;
  std::vector<std::unique_ptr<ProgressDialog>> dialogs;
  {
    DialogRegistry& dialogRegistry = DialogRegistry::Instance();
    std::lock_guard<std::recursive_mutex> holdDialogs(dialogRegistry.Lock());
    SessionRegistry& sessionRegistry = SessionRegistry::Instance();
    std::lock_guard<std::recursive_mutex> holdSessions(sessionRegistry.Lock());
    dialogs.reserve(dialogRegistry.Count());
    sessions.reserve(sessionRegistry.Count());
    for (DownloadSession* s : sessionRegistry.TakeAll()) {
      AbortTransactions(*s);
      sessions.emplace_back(s);
    }
    for (ProgressDialog* d : dialogRegistry.TakeAll()) dialogs.emplace_back(d);
  }
  // Outside the locks: each pane destroys its window (killing its timer) and waits for its
  // worker; only then do the sessions those workers used go.
  dialogs.clear();
  sessions.clear();
}

}  // namespace tr52
