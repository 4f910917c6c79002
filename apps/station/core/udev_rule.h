// `station --udev-rule PORT [--install]`: the udev rule line that names a phone's port, made
// from the port the technician named after the device there answered as a TR52.
//
// The rule line matches the port's USB vendor and product IDs and interface and gives it what
// the project's rule gives a phone port (its phone name, no ModemManager, the group dialout);
// a comment line before it names the mode the phone answered in. Installed, the lines go to a
// local rules file of their own, one per mode seen, kept across calls.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "model_question.h"

namespace station {

constexpr const char* kLocalRulesPath = "/etc/udev/rules.d/71-tr52-local.rules";

// "ttyACM0" or "/dev/ttyACM0" -> "ttyACM0"; nullopt, with the reason, for anything that is not
// a plain kernel name.
std::optional<std::string> ParseKernelName(const std::string& text, std::string& why);

// The USB facts of a port, as udev tells them.
struct RulePort {
  std::string kernelName, devNode;
  bool usb = false;
  std::string vendorId, productId;  // four hex digits each ("ffff")
  std::string interfaceNumber;      // two hex digits ("01"); empty when unknown
};

// The entry for a TR52 that answered on `port` in `mode`: a comment line naming the mode and
// the port, then the rule line; each ends with a newline. Empty, with the reason, when the
// port's IDs are not the hex numbers a rule can match.
std::string RuleEntry(const RulePort& port, PhoneMode mode, std::string& why);

// The local rules file's text with `entry` added: a new file starts with a comment saying what
// it is; an entry whose rule line is already there changes nothing (`added` false).
std::string WithRuleEntry(const std::string& fileText, const std::string& entry, bool& added);

// What the command reaches outside; tests replace any of it.
struct UdevRuleSetup {
  // The port of that kernel name as udev lists it; nullopt when there is none (or udev failed:
  // `why` says so).
  std::function<std::optional<RulePort>(const std::string& kernelName, std::string& why)> findPort;
  std::function<ModelAnswer(const std::string& devNode)> askModel;
  std::string rulesPath = kLocalRulesPath;
  // Has udev read its rules again and replay the tty devices; returns what to tell the user.
  std::function<std::string()> reloadUdev;
};

// The setup of a real run: libudev, the model question on the port (its exchange logged to
// "<program>_udev_rule_log.txt" in the log folder, so the plug-in's own log is left alone),
// /etc/udev/rules.d and udevadm.
UdevRuleSetup SystemUdevRuleSetup();

// Asks the port, prints the entry on `out` (notes and errors on `err`), and with `install`
// adds it to the rules file and reloads udev. Nothing is sent to any port but the one named.
// Returns the exit status: 0 a TR52 answered (and the entry is installed), 1 it did not or
// the port could not be asked or the rule not installed, 2 no such port.
int UdevRuleCommand(const std::string& kernelName, bool install, const UdevRuleSetup& setup,
                    std::ostream& out, std::ostream& err);

}  // namespace station
