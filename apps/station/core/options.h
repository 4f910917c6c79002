// Command line of the station.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace station {

// Exit statuses of the station.
constexpr int kExitOk = 0;                // every port succeeded
constexpr int kExitPortFailed = 1;        // a port's download failed (or its phone was refused)
constexpr int kExitUsage = 2;             // bad command line, package or plug-in module
constexpr int kExitTimeLimit = 3;         // the time limit ended the run with downloads unfinished
constexpr int kExitReportNotWritten = 4;  // the --json file could not be written
constexpr int kExitInterrupted = 130;     // a stop left work unfinished

struct Options {
  std::string pluginPath;     // empty: TR52_091117_MP.so beside the station
  std::vector<int> ports;     // COM numbers, ascending, no duplicates
  int pollMs = 500;           // period of the presence poll
  bool batch = false;         // exit once every port delivered its final result
  double timeoutSeconds = 0;  // overall bound; 0 = none (batch mode defaults to one hour)
  double timeScale = 0;       // > 0: exported as TR52_TIME_SCALE before the plug-in loads
  bool config = false;        // run the configuration dialog
  bool info = false;          // print the plug-in's configuration line
  bool plain = false;         // text lines even on a terminal
  bool listPorts = false;     // list the serial ports and exit (port_listing.h)
  std::string udevRulePort;   // non-empty: print the udev rule for this port and exit
  bool installRule = false;   // with udevRulePort: install the rule too (udev_rule.h)
  std::string packagePath;    // non-empty: saved as the package path before anything else
  std::string jsonPath;       // non-empty: the run's record is written there as JSON
  bool help = false;
};

// Parses "5,6,7-9" (an optional "COM" prefix per item is accepted) into sorted unique port
// numbers 0..255. Returns nullopt and sets `error` on anything else.
std::optional<std::vector<int>> ParsePortList(const std::string& text, std::string& error);

// Parses argv (through CLI11). Returns nullopt and sets `error` (one line, no trailing
// newline) on bad input.
std::optional<Options> ParseOptions(int argc, char** argv, std::string& error);

std::string HelpText(const std::string& programName);

}  // namespace station
