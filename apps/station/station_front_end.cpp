#include "station_front_end.h"

#include <unistd.h>

#include "console.h"
#include "curses_front_end.h"
#include "text_front_end.h"

namespace station {

std::unique_ptr<StationFrontEnd> MakeFrontEnd(const Options& options) {
  const bool wantsScreen = !options.batch && !options.plain &&
                           (!options.ports.empty() || options.config) && isatty(STDIN_FILENO) &&
                           isatty(STDOUT_FILENO);
  if (wantsScreen) {
    std::string why;
    if (auto screen = CursesScreen::Open(why))
      return std::make_unique<CursesFrontEnd>(std::move(screen));
    Out().Line("station", "plain text output: " + why);
  }
  return std::make_unique<TextFrontEnd>();
}

}  // namespace station
