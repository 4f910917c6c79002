#include "make_front_end.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>

#include "core/console.h"
#include "core/plugin_module.h"
#include "desktop/desktop_module.h"
#include "plain/text_front_end.h"
#include "platform/process_info.h"
#include "terminal/curses_front_end.h"

namespace station {
namespace {

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

// The desktop front end from its module beside the program (installed: in its folder below the
// private library folder). The module stays loaded: GTK cannot be unloaded.
std::unique_ptr<StationFrontEnd> OpenDesktop(std::string& why) {
  const std::string path =
      LibraryPathFor(tr52::ExecutablePath(), kDesktopModuleName, kInstalledDesktopFolder);
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!module) {
    const char* text = dlerror();
    why = "the desktop part cannot be loaded (" + std::string(text ? text : path) + ")";
    return nullptr;
  }
  auto open = reinterpret_cast<DesktopOpenFunction>(dlsym(module, kDesktopEntryName));
  if (!open) {
    why = path + " has no " + kDesktopEntryName;
    return nullptr;
  }
  return std::unique_ptr<StationFrontEnd>(open(&why));
}

}  // namespace

std::unique_ptr<StationFrontEnd> MakeFrontEnd(const Options& options, std::string& error) {
  Surroundings where{IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY"), isatty(STDIN_FILENO) != 0,
                     isatty(STDOUT_FILENO) != 0};
  const bool asked = options.ui != UiKind::kAuto;
  UiKind kind = ChooseUi(options, where);
  std::string why;
  if (kind == UiKind::kDesktop) {
    if (auto desktop = OpenDesktop(why)) return desktop;
    if (asked) {
      error = "--ui desktop: " + why;
      return nullptr;
    }
    Out().Line("station", "no window: " + why);
    where.display = false;
    kind = ChooseUi(options, where);
  }
  if (kind == UiKind::kTerminal) {
    if (auto screen = CursesScreen::Open(why))
      return std::make_unique<CursesFrontEnd>(std::move(screen));
    if (asked) {
      error = "--ui terminal: " + why;
      return nullptr;
    }
    Out().Line("station", "plain text output: " + why);
  }
  return std::make_unique<TextFrontEnd>();
}

}  // namespace station
