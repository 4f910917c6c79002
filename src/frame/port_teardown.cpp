#include "frame/port_teardown.h"

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

void EndStartedPane(std::unique_ptr<ProgressDialog> dialog, SessionRegistry& sessions, int port) {
  const std::unique_ptr<DownloadSession> session = sessions.Take(port);
  if (session) AbortTransactions(*session);
  dialog.reset();  // destroys the window and waits for the worker, before the session goes
}

void EndAllPorts(DialogRegistry& dialogs, SessionRegistry& sessions) {
  // Declared in this order so that the panes (and their workers) always go first.
  std::vector<std::unique_ptr<DownloadSession>> endedSessions = sessions.TakeAll();
  for (const auto& s : endedSessions) AbortTransactions(*s);
  std::vector<std::unique_ptr<ProgressDialog>> endedDialogs = dialogs.TakeAll();
  // Each pane destroys its window (killing its timer) and waits for its worker; only then do
  // the sessions those workers used go.
  endedDialogs.clear();
  endedSessions.clear();
}

}  // namespace tr52
