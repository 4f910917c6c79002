#include "options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <set>
#include <sstream>

#include "base/process_log.h"
#include "udev_rule.h"

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

// Where an option's description starts in the help text.
constexpr size_t kHelpColumn = 23;

// The help as this station has always shown it: usage line, what the program does, the
// options, then files, stopping and exit statuses.
class HelpFormatter : public CLI::Formatter {
 public:
  HelpFormatter() { column_width(kHelpColumn); }
  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override {
    if (mode == CLI::AppFormatMode::Sub) return make_expanded(app);
    return make_usage(app, name) + "\n" + make_description(app) + make_groups(app, mode) +
           make_subcommands(app, mode) + "\n" + make_footer(app);
  }
  std::string make_option_name(const CLI::Option* opt, bool positional) const override {
    std::string spaced;
    for (char c : CLI::Formatter::make_option_name(opt, positional)) {
      spaced += c;
      if (c == ',') spaced += ' ';
    }
    return spaced;
  }
};

// Throws the error CLI11 reports as a bad command line (its text as given).
[[noreturn]] void Refuse(const std::string& text) {
  throw CLI::ValidationError(text);
}

// An option whose value `parse` turns into `target`, or says why not (refused as
// "<name>: <why>").
template <typename T, typename Parse>
CLI::Option* Parsed(CLI::App& app, const std::string& name, T& target, Parse parse,
                    const std::string& help) {
  return app.add_option_function<std::string>(
      name,
      [&target, name, parse](const std::string& value) {
        std::string why;
        auto parsed = parse(value, why);
        if (!parsed) Refuse(name + ": " + why);
        target = *parsed;
      },
      help);
}

// A number within bounds, else nullopt and `why` saying what was expected.
template <typename T>
std::optional<T> Within(std::optional<T> number, T low, T high, const std::string& expected,
                        const std::string& text, std::string& why) {
  if (number && *number >= low && *number <= high) return number;
  why = "expected " + expected + ", got '" + text + "'";
  return std::nullopt;
}

// A station's name in the history: shown in tables and on screens, so short and printable.
std::optional<std::string> ParseStationId(const std::string& value, std::string& why) {
  const bool control = std::any_of(value.begin(), value.end(),
                                   [](unsigned char c) { return c < 0x20 || c == 0x7f; });
  if (!value.empty() && value.size() <= 64 && !control) return value;
  why = "at most 64 characters, none of them a control character";
  return std::nullopt;
}

// A value that names a file: refused when empty.
std::function<void(const std::string&)> FileInto(std::string& target, const std::string& what) {
  return [&target, what](const std::string& value) {
    if (value.empty()) Refuse(what);
    target = value;
  };
}

// The station's command line. Every option is declared here once, with its help text; the
// help is made from these declarations. A subcommand ("station history ...") is one more
// app.add_subcommand here, with its own part of Options.
void DeclareOptions(CLI::App& app, Options& opt, const std::string& programName) {
  app.name(programName);
  app.description(
      "Multi-port download station: loads the TR52 download plug-in, watches the given COM "
      "ports\nand downloads every phone that appears on one of them, showing each port's "
      "progress pane as\ntext lines (\"COM5 | ...\").");
  app.formatter(std::make_shared<HelpFormatter>());
  app.set_help_flag();  // -h/--help is an option like the others (below)
  // A repeated option takes its last value.
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  auto flag = [&app](const char* name, bool& target, const std::string& help) {
    app.add_flag(name, target, help)->disable_flag_override();
  };

  app.add_option_function<std::string>("--plugin",
                                       FileInto(opt.pluginPath, "option --plugin needs a path"),
                                       "the plug-in module to load\n(default: TR52_091117_MP.so "
                                       "beside this program, else in ../lib/tr52)")
      ->type_name("PATH");
  Parsed(app, "--ports", opt.ports, ParsePortList,
         "COM port numbers to serve, 0..255: single numbers and ranges separated\nby commas, "
         "e.g. 5,6,7-9 (a \"COM\" prefix is accepted: COM5)")
      ->type_name("LIST");
  Parsed(
      app, "--poll-ms", opt.pollMs,
      [](const std::string& value, std::string& why) -> std::optional<int> {
        const auto ms = Within(ParseLong(value), 10L, 60000L, "milliseconds 10..60000", value, why);
        return ms ? std::optional<int>(static_cast<int>(*ms)) : std::nullopt;
      },
      "how often to ask whether a phone appeared, in ms (default 500)")
      ->type_name("N");
  flag("--batch", opt.batch,
       "exit once every port has delivered its final result, closing each\nport's pane at "
       "once; prints a summary (needs --ports)");
  Parsed(
      app, "--timeout", opt.timeoutSeconds,
      [](const std::string& value, std::string& why) {
        // Above zero: the smallest double that is.
        return Within(ParseDouble(value), std::nextafter(0.0, 1.0), 7 * 24 * 3600.0, "seconds > 0",
                      value, why);
      },
      "overall bound, counted from the start: stop after this long whatever\nthe state, a "
      "dialog or message box open included (downloads still\nrunning are left unfinished); "
      "default: none, 3600 in batch mode")
      ->type_name("SECONDS");
  Parsed(
      app, "--time-scale", opt.timeScale,
      [](const std::string& value, std::string& why) {
        return Within(ParseDouble(value), 1.0, 1e6, "a factor of at least 1", value, why);
      },
      "shorten the download's named waits FACTOR (>= 1) times: the 40 s\n\"Emergency "
      "Reset\" and 60 s \"Reset\" / \"DB Creation\" waits and the 1 s\nsleeps between tries "
      "to get a phone's port back (sets TR52_TIME_SCALE\nbefore the plug-in is loaded). "
      "Protocol time-outs keep their values, so\na phone must come back from a mode switch "
      "within the shortened waits.\nOnly ports of the port table (virtual phones, test peers) "
      "wait shorter:\na USB port, which may be a real phone, keeps the real waits")
      ->type_name("FACTOR");
  app.add_option_function<std::string>(
         "--package", FileInto(opt.packagePath, "option --package needs the path of a .dz package"),
         "save PATH (an existing .dz file; kept as an absolute path) as the\npackage to "
         "download, as the configuration dialog's OK does, before\nanything else; a path that "
         "is not an existing regular file is refused")
      ->type_name("PATH");
  app.add_option_function<std::string>(
         "--json", FileInto(opt.jsonPath, "option --json needs a file name"),
         "when the run ends, write its record to FILE as JSON (needs --ports):\nper port the COM "
         "number, outcome, result code and its name, seconds\ntaken, and from the plug-in's record "
         "of the download its model, flow\n(1 normal, 0 emergency), images written with size, "
         "method and MD5\n(null where no record tells); and a summary (ok/failed/unfinished\n"
         "counts, wall seconds, the package the phones got). The file is\nreplaced in one step "
         "(written beside it, then renamed)")
      ->type_name("FILE");
  app.add_option_function<std::string>(
         "--history", FileInto(opt.historyPath, "option --history needs a value"),
         "keep the history of every download in PATH (SQLite; default\n"
         "$XDG_STATE_HOME/tr52/history.sqlite, else ~/.local/state/tr52/...):\na row when a "
         "download starts, completed when it ends, so a download\ncut short shows as "
         "unfinished; tr52-history reads it")
      ->type_name("PATH");
  flag("--no-history", opt.noHistory, "keep no history");
  Parsed(app, "--station-id", opt.stationId, ParseStationId,
         "this station's name in the history (default: the host name)")
      ->type_name("ID");
  app.add_option_function<std::string>(
         "--history-url", FileInto(opt.historyUrl, "option --history-url needs a value"),
         "also send every row to the line's PostgreSQL database at URL\n"
         "(postgresql://user@host/db): rows go to the history file first and\nfrom there to "
         "the database, so a database that is away never holds a\ndownload up; they are sent, "
         "once each, when it is reached again")
      ->type_name("URL");
  flag("--config", opt.config,
       "show the plug-in's configuration dialog (the package path): a window\non a desktop, a "
       "dialog box on a terminal (\"...\" browses for a .dz\nfile), else the new path is read "
       "from standard input, an empty line\ncancels");
  app.add_option_function<std::string>(
         "--ui",
         [&opt](const std::string& value) {
           if (value == "plain")
             opt.ui = UiKind::kPlain;
           else if (value == "terminal")
             opt.ui = UiKind::kTerminal;
           else if (value == "desktop")
             opt.ui = UiKind::kDesktop;
           else
             Refuse("--ui: expected plain, terminal or desktop, got '" + value + "'");
         },
         "how the run is shown: desktop (a window with one pane per port, a\nConfigure button, "
         "the configuration dialog and message boxes as\nwindows), terminal (full screen: one "
         "pane per port; keys c\nconfiguration, q quit, Tab next pane, arrows and PgUp/PgDn "
         "scroll\nits steps) or plain (timestamped lines). Default: desktop when a\ndisplay is "
         "there and the desktop part (tr52_station_desktop.so\nbeside this program) can open "
         "it, else terminal on a terminal, else\nplain; --batch and --plain mean plain unless "
         "--ui is given")
      ->type_name("KIND");
  flag("--plain", opt.plain, "plain text lines even on a terminal (as --ui plain)");
  flag("--info", opt.info,
       "print the plug-in's configuration line (the package path) and the\nfiles in use: "
       "settings file, log folder, download records, COM map,\nport table and history");
  flag("--list-ports", opt.listPorts,
       "list every serial port seen and exit: kernel name, COM number,\nvendor:product, USB "
       "product, physical position, driver, and whether it\nis a phone port (and why not: no "
       "rule name, not USB, in use ...)");
  Parsed(app, "--udev-rule", opt.udevRulePort, ParseKernelName,
         "ask the device on serial port PORT (its kernel name in --list-ports,\ne.g. ttyACM0) "
         "for its model, as a download does; when it answers as\na TR52, print the udev rule "
         "line that names its port (USB vendor,\nproduct and interface) for the mode it "
         "answered in, and exit.\nNothing is sent to any other port")
      ->type_name("PORT");
  flag("--install", opt.installRule,
       std::string("with --udev-rule: also add the line to\n") + kLocalRulesPath +
           " (lines of the other\nmodes are kept) and have udev reload its rules (root)");
  flag("-h,--help", opt.help, "show this text");

  app.footer(
      "Without --ports the station only does what --package, --config, --info and --udev-rule "
      "ask\nand exits.\n"
      "\n"
      "Files and environment:\n"
      "  ZUDP2.ini            the settings file (section TR52, key PATH_BIN: the package path);\n"
      "                       --package, --config and --info use it\n"
      "  " +
      Padded(tr52::ProcessLog::LogPathFor(programName), 21) +
      "the plug-in's log (this program's file name with \"_log.txt\" in\n"
      "                       place of its extension), made afresh by every run\n"
      "                       Both lie beside this program when its folder is writable (a bin\n"
      "                       folder copied anywhere). An installed program (/usr/bin) keeps\n"
      "                       the settings file in $XDG_CONFIG_HOME/tr52 (default\n"
      "                       ~/.config/tr52) and the log in $XDG_STATE_HOME/tr52 (default\n"
      "                       ~/.local/state/tr52); --info prints the paths in use\n"
      "  TR52_PORT_TABLE      the folder of the port table where virtual phones and test peers "
      "declare\n"
      "                       their COM ports (default $XDG_RUNTIME_DIR/tr52-ports, else\n"
      "                       ${TMPDIR:-/tmp}/tr52-ports-<uid>); USB serial ports are found "
      "through\n"
      "                       udev (see the README, \"Real phones\", and --udev-rule)\n"
      "  TR52_COM_MAP_DIR     the folder of the COM map, the COM number kept per USB position\n"
      "                       (default $XDG_STATE_HOME/tr52, else ~/.local/state/tr52)\n"
      "\n"
      "In interactive mode (no --batch) a port's pane stays until its phone is unplugged; then "
      "the\nport is free for the next phone. A phone that comes back by itself after a "
      "successful download\n(it is reset at the end) is not downloaded again: unplug it "
      "first.\n"
      "\n"
      "Stopping: Ctrl-C, SIGTERM or SIGHUP stops taking new phones and lets the running "
      "downloads\nfinish (a download cannot be cancelled: one cut short leaves its phone to be "
      "downloaded again),\nsaying so (\"waiting for COM5, COM7 to finish; Ctrl-C again to leave "
      "them\"); the station leaves\nwhen they have ended. A second one leaves at once and "
      "leaves them unfinished; so does q in the\nfull-screen view, after asking. Dialogs and "
      "message boxes still open are closed (cancelled);\nafter SIGHUP the terminal is given back "
      "at once and the rest comes as plain lines. A closed\nstandard output ends the output, not "
      "the downloads.\n"
      "\n"
      "Exit status:\n"
      "  0    every download succeeded (batch mode: every port), also after a stop that let the\n"
      "       running downloads finish; --udev-rule: the port answered as a TR52\n"
      "  1    a port failed: a download ended with an error, or a phone could not be served;\n"
      "       --udev-rule: the port did not answer as a TR52, or the rule could not be\n"
      "       installed\n"
      "  2    bad command line, package path or settings file, or the plug-in could not be "
      "loaded\n"
      "  3    the time limit (--timeout) ended the run while a download was unfinished or, in "
      "batch\n"
      "       mode, a port had seen no phone\n"
      "  4    the --json file could not be written\n"
      "  130  a stop (Ctrl-C, SIGTERM, SIGHUP or q) left a download unfinished or, in batch "
      "mode, a\n"
      "       port that had seen no phone");
}

// Rules between options that no single option can check.
void CheckCombinations(Options& opt) {
  if (!opt.jsonPath.empty() && opt.ports.empty()) Refuse("--json needs --ports");
  if (opt.batch && opt.ports.empty()) Refuse("--batch needs --ports");
  if (opt.plain && opt.ui != UiKind::kAuto && opt.ui != UiKind::kPlain)
    Refuse("--plain and --ui ask for different front ends");
  if (opt.installRule && opt.udevRulePort.empty()) Refuse("--install needs --udev-rule");
  if (!opt.udevRulePort.empty() && !opt.ports.empty())
    Refuse("--udev-rule asks one port and serves none: leave out --ports");
  if (opt.noHistory && (!opt.historyPath.empty() || !opt.historyUrl.empty()))
    Refuse("--no-history leaves no history for --history or --history-url");
  if (opt.batch && opt.timeoutSeconds == 0) opt.timeoutSeconds = 3600;
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
  CLI::App app;
  DeclareOptions(app, opt, "station");
  try {
    app.parse(argc, argv);
    CheckCombinations(opt);
  } catch (const CLI::Error& e) {
    error = e.what();
    return std::nullopt;
  }
  return opt;
}

std::string HelpText(const std::string& programName) {
  Options unused;
  CLI::App app;
  DeclareOptions(app, unused, programName);
  return app.help();
}

}  // namespace station
