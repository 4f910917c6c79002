#include "options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <set>
#include <sstream>

#include "base/process_log.h"

namespace station {
namespace {

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  const auto e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// A whole decimal number in 0..255, with an optional "COM" prefix (any case).
std::optional<int> ParsePort(std::string item) {
  item = Trim(item);
  if (item.size() > 3 && (item[0] == 'C' || item[0] == 'c') && (item[1] == 'O' || item[1] == 'o') &&
      (item[2] == 'M' || item[2] == 'm'))
    item = item.substr(3);
  if (item.empty() || item.size() > 3) return std::nullopt;
  for (char c : item)
    if (c < '0' || c > '9') return std::nullopt;
  const int value = std::stoi(item);
  if (value > 255) return std::nullopt;
  return value;
}

std::optional<long> ParseLong(const std::string& text) {
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return std::nullopt;
  return v;
}

std::optional<double> ParseDouble(const std::string& text) {
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v)) return std::nullopt;
  return v;
}

// `text` followed by blanks up to `width` characters (at least one blank).
std::string Padded(const std::string& text, size_t width) {
  return text + std::string(text.size() < width ? width - text.size() : 1, ' ');
}

}  // namespace

std::optional<std::vector<int>> ParsePortList(const std::string& text, std::string& error) {
  std::set<int> ports;
  std::stringstream in(text);
  std::string item;
  bool any = false;
  while (std::getline(in, item, ',')) {
    any = true;
    const auto dash = item.find('-');
    if (dash == std::string::npos) {
      const auto port = ParsePort(item);
      if (!port) {
        error = "bad port '" + Trim(item) + "' (expected a number 0..255)";
        return std::nullopt;
      }
      ports.insert(*port);
      continue;
    }
    const auto first = ParsePort(item.substr(0, dash));
    const auto last = ParsePort(item.substr(dash + 1));
    if (!first || !last) {
      error = "bad port range '" + Trim(item) + "' (expected FIRST-LAST, each 0..255)";
      return std::nullopt;
    }
    if (*first > *last) {
      error = "bad port range '" + Trim(item) + "' (first is greater than last)";
      return std::nullopt;
    }
    for (int p = *first; p <= *last; ++p) ports.insert(p);
  }
  if (!any || ports.empty()) {
    error = "empty port list";
    return std::nullopt;
  }
  return std::vector<int>(ports.begin(), ports.end());
}

std::optional<Options> ParseOptions(int argc, char** argv, std::string& error) {
  Options opt;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool hasInlineValue = false;
    if (arg.rfind("--", 0) == 0) {
      const auto eq = arg.find('=');
      if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
        arg = arg.substr(0, eq);
        hasInlineValue = true;
      }
    }
    auto takeValue = [&]() -> bool {
      if (hasInlineValue) return true;
      if (i + 1 >= argc) {
        error = "option " + arg + " needs a value";
        return false;
      }
      value = argv[++i];
      return true;
    };
    auto noValue = [&]() -> bool {
      if (hasInlineValue) {
        error = "option " + arg + " takes no value";
        return false;
      }
      return true;
    };

    if (arg == "--help" || arg == "-h") {
      if (!noValue()) return std::nullopt;
      opt.help = true;
    } else if (arg == "--plugin") {
      if (!takeValue()) return std::nullopt;
      if (value.empty()) {
        error = "option --plugin needs a path";
        return std::nullopt;
      }
      opt.pluginPath = value;
    } else if (arg == "--ports") {
      if (!takeValue()) return std::nullopt;
      std::string why;
      auto ports = ParsePortList(value, why);
      if (!ports) {
        error = "--ports: " + why;
        return std::nullopt;
      }
      opt.ports = *ports;
    } else if (arg == "--poll-ms") {
      if (!takeValue()) return std::nullopt;
      const auto v = ParseLong(value);
      if (!v || *v < 10 || *v > 60000) {
        error = "--poll-ms: expected milliseconds 10..60000, got '" + value + "'";
        return std::nullopt;
      }
      opt.pollMs = static_cast<int>(*v);
    } else if (arg == "--batch") {
      if (!noValue()) return std::nullopt;
      opt.batch = true;
    } else if (arg == "--timeout") {
      if (!takeValue()) return std::nullopt;
      const auto v = ParseDouble(value);
      if (!v || *v <= 0 || *v > 7 * 24 * 3600.0) {
        error = "--timeout: expected seconds > 0, got '" + value + "'";
        return std::nullopt;
      }
      opt.timeoutSeconds = *v;
    } else if (arg == "--time-scale") {
      if (!takeValue()) return std::nullopt;
      const auto v = ParseDouble(value);
      if (!v || *v < 1 || *v > 1e6) {
        error = "--time-scale: expected a factor of at least 1, got '" + value + "'";
        return std::nullopt;
      }
      opt.timeScale = *v;
    } else if (arg == "--json") {
      if (!takeValue()) return std::nullopt;
      if (value.empty()) {
        error = "option --json needs a file name";
        return std::nullopt;
      }
      opt.jsonPath = value;
    } else if (arg == "--package") {
      if (!takeValue()) return std::nullopt;
      if (value.empty()) {
        error = "option --package needs the path of a .dz package";
        return std::nullopt;
      }
      opt.packagePath = value;
    } else if (arg == "--config") {
      if (!noValue()) return std::nullopt;
      opt.config = true;
    } else if (arg == "--plain") {
      if (!noValue()) return std::nullopt;
      opt.plain = true;
    } else if (arg == "--ui") {
      if (!takeValue()) return std::nullopt;
      if (value == "plain") {
        opt.ui = UiKind::kPlain;
      } else if (value == "terminal") {
        opt.ui = UiKind::kTerminal;
      } else if (value == "desktop") {
        opt.ui = UiKind::kDesktop;
      } else {
        error = "--ui: expected plain, terminal or desktop, got '" + value + "'";
        return std::nullopt;
      }
    } else if (arg == "--info") {
      if (!noValue()) return std::nullopt;
      opt.info = true;
    } else if (arg == "--list-ports") {
      if (!noValue()) return std::nullopt;
      opt.listPorts = true;
    } else {
      error = "unknown argument '" + std::string(argv[i]) + "'";
      return std::nullopt;
    }
  }
  if (!opt.jsonPath.empty() && opt.ports.empty()) {
    error = "--json needs --ports";
    return std::nullopt;
  }
  if (opt.batch && opt.ports.empty()) {
    error = "--batch needs --ports";
    return std::nullopt;
  }
  if (opt.plain && opt.ui != UiKind::kAuto && opt.ui != UiKind::kPlain) {
    error = "--plain and --ui ask for different front ends";
    return std::nullopt;
  }
  if (opt.batch && opt.timeoutSeconds == 0) opt.timeoutSeconds = 3600;
  return opt;
}

std::string HelpText(const std::string& programName) {
  return "Usage: " + programName + R"( [OPTIONS]

Multi-port download station: loads the TR52 download plug-in, watches the given COM ports
and downloads every phone that appears on one of them, showing each port's progress pane as
text lines ("COM5 | ...").

Options:
  --plugin PATH        the plug-in module to load
                       (default: TR52_091117_MP.so beside this program)
  --ports LIST         COM port numbers to serve, 0..255: single numbers and ranges separated
                       by commas, e.g. 5,6,7-9 (a "COM" prefix is accepted: COM5)
  --poll-ms N          how often to ask whether a phone appeared, in ms (default 500)
  --batch              exit once every port has delivered its final result, closing each
                       port's pane at once; prints a summary (needs --ports)
  --timeout SECONDS    overall bound, counted from the start: stop after this long whatever
                       the state, a dialog or message box open included (downloads still
                       running are left unfinished); default: none, 3600 in batch mode
  --time-scale FACTOR  shorten the download's named waits FACTOR (>= 1) times: the 40 s
                       "Emergency Reset" and 60 s "Reset" / "DB Creation" waits and the 1 s
                       sleeps between tries to get a phone's port back (sets TR52_TIME_SCALE
                       before the plug-in is loaded). Protocol time-outs keep their values, so
                       a phone must come back from a mode switch within the shortened waits.
                       Only ports of the port table (virtual phones, test peers) wait shorter:
                       a USB port, which may be a real phone, keeps the real waits
  --package PATH       save PATH (an existing .dz file; kept as an absolute path) as the
                       package to download, as the configuration dialog's OK does, before
                       anything else; a path that is not an existing regular file is refused
  --json FILE          when the run ends, write its record to FILE as JSON (needs --ports):
                       per port the COM number, outcome, result code and its name, seconds
                       taken, and from the plug-in's record of the download its model, flow
                       (1 normal, 0 emergency), images written with size, method and MD5
                       (null where no record tells); and a summary (ok/failed/unfinished
                       counts, wall seconds, the package the phones got). The file is
                       replaced in one step (written beside it, then renamed)
  --config             show the plug-in's configuration dialog (the package path); on a
                       terminal it is a dialog box ("..." browses for a .dz file), else the
                       new path is read from standard input, an empty line cancels
  --ui KIND            how the run is shown: desktop (a window with one pane per port, a
                       Configure button, the configuration dialog and message boxes as
                       windows), terminal (full screen: one pane per port; keys c
                       configuration, q quit, Tab next pane, arrows and PgUp/PgDn scroll its
                       steps) or plain (timestamped lines). Default: desktop when a display is
                       there and the desktop part (tr52_station_desktop.so beside this
                       program) can open it, else terminal on a terminal, else plain; --batch
                       and --plain mean plain unless --ui is given
  --plain              plain text lines even on a terminal (as --ui plain)
  --info               print the plug-in's configuration line (the package path)
  --list-ports         list every serial port seen and exit: kernel name, COM number,
                       vendor:product, USB product, physical position, driver, and whether it
                       is a phone port (and why not: no rule name, not USB, in use ...)
  -h, --help           show this text

Without --ports the station only does what --package, --config and --info ask and exits.

Files and environment:
  ZUDP2.ini            the settings file beside this program (section TR52, key PATH_BIN:
                       the package path); --package, --config and --info use it
  )" + Padded(tr52::ProcessLog::LogPathFor(programName), 21) +
         R"(the plug-in's log beside this program (this program's file name with
                       "_log.txt" in place of its extension), made afresh by every run
  TR52_PORT_TABLE      the folder of the port table where virtual phones and test peers declare
                       their COM ports (default $XDG_RUNTIME_DIR/tr52-ports, else
                       ${TMPDIR:-/tmp}/tr52-ports-<uid>); USB serial ports are found through
                       udev (see the README, "Real phones")
  TR52_COM_MAP_DIR     the folder of the COM map, the COM number kept per USB position
                       (default $XDG_STATE_HOME/tr52, else ~/.local/state/tr52)

In interactive mode (no --batch) a port's pane stays until its phone is unplugged; then the
port is free for the next phone. A phone that comes back by itself after a successful download
(it is reset at the end) is not downloaded again: unplug it first.

Stopping: Ctrl-C, SIGTERM or SIGHUP stops taking new phones and lets the running downloads
finish (a download cannot be cancelled: one cut short leaves its phone to be downloaded again),
saying so ("waiting for COM5, COM7 to finish; Ctrl-C again to leave them"); the station leaves
when they have ended. A second one leaves at once and leaves them unfinished; so does q in the
full-screen view, after asking. Dialogs and message boxes still open are closed (cancelled);
after SIGHUP the terminal is given back at once and the rest comes as plain lines. A closed
standard output ends the output, not the downloads.

Exit status:
  0    every download succeeded (batch mode: every port), also after a stop that let the
       running downloads finish
  1    a port failed: a download ended with an error, or a phone could not be served
  2    bad command line, package path or settings file, or the plug-in could not be loaded
  3    the time limit (--timeout) ended the run while a download was unfinished or, in batch
       mode, a port had seen no phone
  4    the --json file could not be written
  130  a stop (Ctrl-C, SIGTERM, SIGHUP or q) left a download unfinished or, in batch mode, a
       port that had seen no phone
)";
}

}  // namespace station
