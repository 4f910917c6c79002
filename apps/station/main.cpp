// The station: a multi-port download host for the TR52 download plug-in.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include "base/process_log.h"
#include "base/settings_file.h"
#include "core/console.h"
#include "core/file_places.h"
#include "core/options.h"
#include "core/package_setting.h"
#include "core/plugin_module.h"
#include "core/port_listing.h"
#include "core/run_report.h"
#include "core/station.h"
#include "core/stop_control.h"
#include "core/terminal_rescue.h"
#include "core/udev_rule.h"
#include "make_front_end.h"
#include "platform/atomic_file.h"
#include "platform/process_info.h"

namespace {

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

// Refuses a --json file whose folder does not exist before any phone is touched.
bool JsonFolderExists(const std::string& jsonPath, std::string& error) {
  std::filesystem::path folder = std::filesystem::path(jsonPath).parent_path();
  if (folder.empty()) folder = ".";
  std::error_code ec;
  if (std::filesystem::is_directory(folder, ec)) return true;
  error = "--json: the folder " + folder.string() + " does not exist";
  return false;
}

// Writes the run's record; returns `status`, or kExitReportNotWritten when the file could not
// be written.
int WriteJsonReport(const station::Station& st, const std::string& jsonPath, int status) {
  const std::string text = station::RunReportJson(st.Report());
  std::string error;
  if (!tr52::ReplaceFileAtomically(jsonPath, text, error)) {
    station::Out().Error("cannot write the run record: " + error);
    return station::kExitReportNotWritten;
  }
  station::Out().Line("station", "run record written to " + jsonPath);
  return status;
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
    return station::kExitUsage;
  }
  if (options->help) {
    station::Out().Raw(station::HelpText(program));
    return 0;
  }
  if (options->listPorts) return station::ListPorts();
  if (!options->udevRulePort.empty())
    return station::UdevRuleCommand(options->udevRulePort, options->installRule,
                                    station::SystemUdevRuleSetup(), std::cout, std::cerr);
  if (options->ports.empty() && !options->config && !options->info &&
      options->packagePath.empty()) {
    station::Out().Error(
        "nothing to do: give --ports, --package, --info, --config or --udev-rule (see " + program +
        " --help)");
    return station::kExitUsage;
  }
  if (!options->jsonPath.empty() && !JsonFolderExists(options->jsonPath, error)) {
    station::Out().Error(error);
    return station::kExitUsage;
  }
  if (!options->packagePath.empty()) {
    std::string saved;
    const std::string settingsPath = tr52::SettingsFile::PathBesideHost();
    if (!station::SavePackagePath(settingsPath, options->packagePath, saved, error)) {
      station::Out().Error(error);
      return station::kExitUsage;
    }
    station::Out().Line("station", "package " + saved + " saved in " + settingsPath);
    if (options->ports.empty() && !options->config && !options->info) return station::kExitOk;
  }

  // The plug-in reads its time scale once, when it is loaded.
  if (options->timeScale > 0) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", options->timeScale);
    setenv("TR52_TIME_SCALE", buf, 1);
  }

  // Stop signals and the deadline of --timeout from here on (before the screen opens, so
  // that curses leaves the signals to us); the terminal comes back on every way out.
  std::optional<station::StopControl::Clock::time_point> deadline;
  if (options->timeoutSeconds > 0)
    deadline = station::StopControl::Clock::now() +
               std::chrono::duration_cast<station::StopControl::Clock::duration>(
                   std::chrono::duration<double>(options->timeoutSeconds));
  station::StopControl stop(deadline);
  station::InstallTerminalRescue();

  // Full screen on a terminal, else plain lines.
  const auto frontEnd = station::MakeFrontEnd(*options);
  frontEnd->UseStop(stop);
  win::SetFrontEnd(frontEnd.get());

  const std::string pluginPath =
      options->pluginPath.empty() ? station::DefaultPluginPath() : options->pluginPath;
  station::PluginModule plugin;
  if (!plugin.Load(pluginPath, error)) {
    station::Out().Error(error);
    win::SetFrontEnd(nullptr);
    return station::kExitUsage;
  }
  station::Out().Line("station", "loaded plug-in " + pluginPath);
  frontEnd->UsePlugin(plugin.Ops());

  if (options->info) {
    PrintConfigInfo(plugin.Ops());
    station::Out().Raw(station::FilePlacesText(station::CurrentFilePlaces()));
  }

  int status = 0;
  if (options->config && !stop.Stopping()) {
    win::CWnd owner;
    owner.m_hWnd =
        win::CreateWindowEx(nullptr, "StationMain", "station", 0, win::Rect{}, win::WndProc{});
    plugin.Ops().ShowConfiguration(&owner);
    if (frontEnd->ConfigDialogsSeen() == 0) {
      station::Out().Error("the configuration dialog did not appear");
      status = 1;
    }
    if (owner.m_hWnd) win::DestroyWindow(owner.m_hWnd);
    if (options->info) PrintConfigInfo(plugin.Ops());
  }

  if (!options->ports.empty() && !stop.Stopping()) {
    bool leaveRunning = false;
    {
      station::Station st(*options, plugin.Ops(), tr52::ProcessLog::DefaultPath());
      if (!st.Init()) return station::kExitUsage;
      status = st.Run(stop);
      if (!options->jsonPath.empty()) status = WriteJsonReport(st, options->jsonPath, status);
      leaveRunning = st.AnyDownloadRunning();
      if (leaveRunning) {
        // A download cannot be cancelled and its thread lives in the module: leave the process
        // without unloading anything under it.
        station::Out().Line("station", "leaving while downloads still run");
        // The screen first: a worker waiting in a message box is let go before the front
        // end is taken away.
        frontEnd->Close();
        win::SetFrontEnd(nullptr);
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(status);
      }
    }
  } else if (stop.Stopping()) {
    // Stopped before (or while) the configuration dialog: nothing was served.
    status = stop.TimedOut() ? station::kExitTimeLimit : station::kExitInterrupted;
  }
  win::SetFrontEnd(nullptr);
  return status;
}
