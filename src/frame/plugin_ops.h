// The table of six operations the host obtains from the plug-in through _A130.
#pragma once

#include "base/messages.h"
#include "win/window.h"

extern "C" {

struct PluginOps {
  int (*IsDisconnected)(int port);
  int (*IsConnected)(int port);
  int (*OpenProgress)(win::CWnd* parent, int port, int extra);
  int (*CloseProgress)(win::CWnd* parent);
  int (*ShowConfiguration)(win::CWnd* parent);
  int (*GetConfigInfo)(char* buffer, int size);
};

// Current entry point: fills the table; 0 for a null table, else 1.
int _A130(PluginOps* table);
// Obsolete entry point of older hosts: fills stubs that return 0, warns, returns 0.
int _A129(PluginOps* table);

using PluginEntry = int (*)(PluginOps*);
}
