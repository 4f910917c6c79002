#include "ui_choice.h"

namespace station {

UiKind ChooseUi(const Options& options, const Surroundings& where) {
  if (options.ui != UiKind::kAuto) return options.ui;
  if (options.plain || options.batch) return UiKind::kPlain;
  const bool somethingToShow = !options.ports.empty() || options.config;
  if (where.display && somethingToShow) return UiKind::kDesktop;
  // Serving ports full screen needs the terminal on standard output (else the lines go to
  // whatever it is); the configuration dialog only needs a user at a terminal.
  const bool screenFits = options.ports.empty() ? options.config : where.stdoutTerminal;
  if (screenFits && where.stdinTerminal) return UiKind::kTerminal;
  return UiKind::kPlain;
}

}  // namespace station
