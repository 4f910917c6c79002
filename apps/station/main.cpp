// The station: a multi-port download host for the TR52 download plug-in.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "console.h"
#include "options.h"
#include "plugin_module.h"
#include "station.h"
#include "text_front_end.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) {
  g_stop = 1;
}

void InstallSignalHandlers() {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no restart: a blocking wait returns so the loop sees the request
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

std::string ProgramName(const char* argv0) {
  std::string name = argv0 ? argv0 : "station";
  const auto slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

void PrintConfigInfo(const PluginOps& ops) {
  char buffer[1024] = {};
  ops.GetConfigInfo(buffer, sizeof buffer - 1);
  std::string text(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  station::Out().Raw(text + "\n");
}

}  // namespace

int main(int argc, char** argv) {
  // Output is read line by line by people and by test harnesses alike.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const std::string program = ProgramName(argc > 0 ? argv[0] : nullptr);

  std::string error;
  auto options = station::ParseOptions(argc, argv, error);
  if (!options) {
    station::Out().Error(error + " (see " + program + " --help)");
    return 2;
  }
  if (options->help) {
    station::Out().Raw(station::HelpText(program));
    return 0;
  }
  if (options->ports.empty() && !options->config && !options->info) {
    station::Out().Error("nothing to do: give --ports, --info or --config (see " + program +
                         " --help)");
    return 2;
  }

  // The plug-in reads its time scale once, when it is loaded.
  if (options->timeScale > 0) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", options->timeScale);
    setenv("TR52_TIME_SCALE", buf, 1);
  }

  station::TextFrontEnd frontEnd;
  win::SetFrontEnd(&frontEnd);
  InstallSignalHandlers();

  const std::string pluginPath =
      options->pluginPath.empty() ? station::DefaultPluginPath() : options->pluginPath;
  station::PluginModule plugin;
  if (!plugin.Load(pluginPath, error)) {
    station::Out().Error(error);
    win::SetFrontEnd(nullptr);
    return 2;
  }
  station::Out().Line("station", "loaded plug-in " + pluginPath);

  if (options->info) PrintConfigInfo(plugin.Ops());

  int status = 0;
  if (options->config) {
    win::CWnd owner;
    owner.m_hWnd =
        win::CreateWindowEx(nullptr, "StationMain", "station", 0, win::Rect{}, win::WndProc{});
    plugin.Ops().ShowConfiguration(&owner);
    if (frontEnd.ConfigDialogsSeen() == 0) {
      station::Out().Error("the configuration dialog did not appear");
      status = 1;
    }
    if (owner.m_hWnd) win::DestroyWindow(owner.m_hWnd);
    if (options->info) PrintConfigInfo(plugin.Ops());
  }

  if (!options->ports.empty() && !g_stop) {
    bool leaveRunning = false;
    {
      station::Station st(*options, plugin.Ops());
      if (!st.Init()) return 2;
      status = st.Run(g_stop);
      leaveRunning = st.AnyDownloadRunning();
      if (leaveRunning) {
        // A download cannot be cancelled and its thread lives in the module: leave the process
        // without unloading anything under it.
        station::Out().Line("station", "leaving while downloads still run");
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(status);
      }
    }
  }
  win::SetFrontEnd(nullptr);
  return status;
}
