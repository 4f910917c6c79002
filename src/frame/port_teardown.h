// Ending a port's download from the host's side: the session's transactions are aborted, the
// pane's window destroyed and its worker waited for, and only then are pane and session freed.
// The joins happen outside the registries' locks.
#pragma once

#include <memory>

namespace tr52 {

class DialogRegistry;
class DownloadSession;
class ProgressDialog;
class SessionRegistry;

// A worker inside a transaction on this session's link stops waiting for the phone within one
// poll period; later transactions of that download fail at once.
void AbortTransactions(DownloadSession& session);

// A pane whose opening failed after its worker had started: the worker is stopped and waited
// for, and the port's session goes too (a session runs once, and its link is aborted now).
void EndStartedPane(std::unique_ptr<ProgressDialog> dialog, SessionRegistry& sessions, int port);

// Ends every port before the module unloads: aborts every session's transactions, destroys
// every pane, waits for the workers, then frees panes and sessions.
void EndAllPorts(DialogRegistry& dialogs, SessionRegistry& sessions);

}  // namespace tr52
