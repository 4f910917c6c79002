#include "make_front_end.h"

#include <unistd.h>

#include "core/console.h"
#include "plain/text_front_end.h"
#include "terminal/curses_front_end.h"

namespace station {

std::unique_ptr<StationFrontEnd> MakeFrontEnd(const Options& options) {
  // Serving ports full screen needs the terminal on standard output (else the lines go to
  // whatever it is); the configuration dialog only needs a user at a terminal.
  const bool screenFits = options.ports.empty() ? options.config : isatty(STDOUT_FILENO) != 0;
  const bool wantsScreen = !options.batch && !options.plain && screenFits && isatty(STDIN_FILENO);
  if (wantsScreen) {
    std::string why;
    if (auto screen = CursesScreen::Open(why))
      return std::make_unique<CursesFrontEnd>(std::move(screen));
    Out().Line("station", "plain text output: " + why);
  }
  return std::make_unique<TextFrontEnd>();
}

}  // namespace station
