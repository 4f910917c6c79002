// The six operations the host drives every port through (the table _A130 hands out), and the
// stub table of the obsolete entry point.
//
// All run on the host's user-interface thread, the thread that owns the parent windows. None
// lets an exception out: a failure is logged and answered with 0.
#pragma once

#include "frame/plugin_ops.h"
#include "win/window.h"

namespace tr52 {

// 0 when a phone port with this number is present, else 1.
int IsDisconnected(int port);
// Creates the port's session and opens its COM port; 1 when registered.
int IsConnected(int port);
// Creates the port's progress pane (which starts the download); 1 when shown and registered.
// 0 when the port has no session or already has a pane (one worker per link).
int OpenProgress(win::CWnd* parent, int port, int extra);
// Destroys the pane opened with `parent` and its port's session, if there is one: a download
// still running is aborted and its worker waited for. 0 for an unknown parent.
int CloseProgress(win::CWnd* parent);
// Runs the configuration dialog modally; always 1.
int ShowConfiguration(win::CWnd* parent);
// "PATH_BIN : <path>\r\n" into the buffer (not terminated when it does not fit). Writes nothing
// and returns 0 for a null buffer or a size of 0 or less.
int GetConfigInfo(char* buffer, int size);

// The six operations in table order.
void FillPluginOps(PluginOps& table);
// Every slot a stub that ignores its arguments and returns 0.
void FillStubOps(PluginOps& table);

// The text of the obsolete entry point's warning box.
inline constexpr const char kOldHostWarning[] =
    "36버전 이상 사용하셔야 합니다.\nVersion 36 at least is required.";

}  // namespace tr52
