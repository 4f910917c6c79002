#include "udev_rule.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "base/printable_text.h"
#include "base/process_log.h"
#include "link/udev_ports.h"
#include "platform/atomic_file.h"
#include "platform/path_parts.h"
#include "session/phone_model.h"

extern char** environ;

namespace station {
namespace {

// The phone name the rule gives the port (the station takes a port so named for a phone's).
constexpr const char* kRulePhoneName = "ZUM Mobile USB Serial Port";
// A local rules file larger than this is not ours to rewrite.
constexpr std::streamsize kMaxRulesFile = 1 << 20;

bool IsHex(const std::string& text, size_t digits) {
  if (text.size() != digits) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// The file's text; empty when it does not exist. False (with why) when it cannot be read or is
// not a plain file of a sane size.
[[nodiscard]] bool ReadRulesFile(const std::string& path, std::string& text, std::string& why) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    why = path + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode) || st.st_size > kMaxRulesFile) {
    why = path + " is not a plain rules file (or larger than 1 MiB): left as it is";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return true;
}

std::optional<RulePort> FindUdevPort(const std::string& kernelName, std::string& why) {
  try {
    for (const tr52::UdevTty& tty : tr52::ListUdevTtys()) {
      if (tty.KernelName() != kernelName) continue;
      return RulePort{tty.KernelName(), tty.DevNode(),   tty.IsUsb(),
                      tty.VendorId(),   tty.ProductId(), tty.InterfaceNumber()};
    }
  } catch (const tr52::UdevError& e) {
    why = std::string("cannot list the serial ports: ") + e.what();
  }
  return std::nullopt;
}

// Runs a program found on PATH, without a shell; its exit status, or -1 when it did not run.
int RunTool(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReloadSystemUdev() {
  struct stat st {};
  if (stat("/run/udev/control", &st) != 0)
    return "udev is not running here: the rule takes effect when udev starts";
  if (RunTool({"udevadm", "control", "--reload"}) != 0)
    return "udevadm control --reload failed: replug the phone after `udevadm control --reload`";
  if (RunTool({"udevadm", "trigger", "--subsystem-match=tty", "--action=add"}) != 0)
    return "udev reloaded its rules, but replaying the serial ports failed: replug the phone";
  return "udev reloaded its rules and replayed the serial ports";
}

// The log of the model question: beside the plug-in's log, never the plug-in's log itself
// (opening that would empty it).
std::string QuestionLogPath() {
  const std::string log = tr52::ProcessLog::DefaultPath();
  const std::string suffix = "_log.txt";
  return log.substr(0, log.size() - suffix.size()) + "_udev_rule_log.txt";
}

std::string OpenFailure(const RulePort& port, int error) {
  std::string why = "cannot open " + port.devNode + ": ";
  if (error == EBUSY) return why + "in use (another station, a terminal program or ModemManager)";
  if (error == EACCES || error == EPERM)
    return why + "no permission (join the group dialout and log in again, or run as root)";
  return why + std::strerror(error);
}

}  // namespace

std::optional<std::string> ParseKernelName(const std::string& text, std::string& why) {
  std::string name = text.rfind("/dev/", 0) == 0 ? text.substr(5) : text;
  bool plain = !name.empty() && name.size() <= 64 && name[0] != '.' && name[0] != '-';
  for (char c : name)
    plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '.' || c == '-');
  if (!plain) {
    why = "expected a port's kernel name as --list-ports shows it (ttyACM0), got '" +
          tr52::PrintableText(text) + "'";
    return std::nullopt;
  }
  return name;
}

std::string RuleEntry(const RulePort& port, PhoneMode mode, std::string& why) {
  const std::string vendor = Lower(port.vendorId), product = Lower(port.productId);
  const std::string interface = Lower(port.interfaceNumber);
  if (!IsHex(vendor, 4) || !IsHex(product, 4) || !(interface.empty() || IsHex(interface, 2))) {
    why = "udev tells no USB vendor, product and interface numbers a rule can match for " +
          port.kernelName + " (" + tr52::PrintableText(port.vendorId) + ":" +
          tr52::PrintableText(port.productId) + ", interface " +
          tr52::PrintableText(port.interfaceNumber) + ")";
    return "";
  }
  std::string entry = "# TR52 in " + std::string(ModeName(mode)) + ": " + port.kernelName +
                      ", USB " + vendor + ":" + product +
                      (interface.empty() ? "" : " interface " + interface) + "\n";
  entry += "SUBSYSTEM==\"tty\", ACTION!=\"remove\", ATTRS{idVendor}==\"" + vendor +
           "\", ATTRS{idProduct}==\"" + product + "\", ";
  if (!interface.empty()) entry += "ENV{ID_USB_INTERFACE_NUM}==\"" + interface + "\", ";
  entry += "ENV{" + std::string(tr52::kPhoneNameProperty) + "}=\"" + kRulePhoneName +
           "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\", GROUP=\"dialout\", MODE=\"0660\", "
           "TAG+=\"uaccess\"\n";
  return entry;
}

std::string WithRuleEntry(const std::string& fileText, const std::string& entry, bool& added) {
  const std::string ruleLine = entry.substr(entry.find('\n') + 1);
  std::istringstream lines(fileText);
  for (std::string line; std::getline(lines, line);) {
    if (line + "\n" == ruleLine) {
      added = false;
      return fileText;
    }
  }
  added = true;
  std::string text = fileText;
  if (text.empty())
    text =
        "# TR52 phones on this machine: one rule per mode seen, written by\n"
        "# `station --udev-rule PORT --install` (see the README, \"Real phones\").\n";
  if (text.back() != '\n') text += '\n';
  return text + entry;
}

UdevRuleSetup SystemUdevRuleSetup() {
  UdevRuleSetup setup;
  setup.findPort = FindUdevPort;
  setup.askModel = [](const std::string& devNode) {
    tr52::ProcessLog log;
    const tr52::LogTarget route(log);
    log.Open(QuestionLogPath());
    return AskModel(devNode);
  };
  setup.reloadUdev = ReloadSystemUdev;
  return setup;
}

int UdevRuleCommand(const std::string& kernelName, bool install, const UdevRuleSetup& setup,
                    std::ostream& out, std::ostream& err) {
  std::string why;
  const auto port = setup.findPort(kernelName, why);
  if (!port) {
    err << "station: error: " << (why.empty() ? "no serial port " + kernelName : why)
        << " (see station --list-ports)\n";
    return 2;
  }
  if (!port->usb) {
    err << "station: error: " << kernelName
        << " is not a USB port: a phone's rule names USB serial ports only\n";
    return 1;
  }
  // Refused before anything is sent, so that the phone is asked only when the answer can be
  // used.
  const std::string folder = tr52::FolderOf(setup.rulesPath);
  if (install && access(folder.c_str(), W_OK) != 0) {
    err << "station: error: --install writes " << setup.rulesPath << ": "
        << (errno == ENOENT
                ? "no such folder (is udev installed?)"
                : "run it as root (sudo station --udev-rule " + kernelName + " --install)")
        << "\n";
    return 1;
  }

  err << "station: asking " << port->devNode << " for its model (normal mode, then download "
      << "mode; up to half a minute)\n";
  const ModelAnswer answer = setup.askModel(port->devNode);
  if (answer.outcome == ModelAnswer::Outcome::kCannotOpen) {
    err << "station: error: " << OpenFailure(*port, answer.openError) << "\n";
    return 1;
  }
  if (answer.outcome == ModelAnswer::Outcome::kNoAnswer) {
    err << "station: error: " << kernelName
        << " did not answer as a TR52 in normal or download mode: no rule (is it the phone's "
           "diagnostic port, and is the phone on?)\n";
    return 1;
  }
  if (!tr52::IsDownloadedModel(answer.model)) {
    err << "station: error: " << kernelName << " answered as '" << tr52::PrintableText(answer.model)
        << "' in " << ModeName(answer.mode) << ", not as a TR52: no rule\n";
    return 1;
  }
  const std::string entry = RuleEntry(*port, answer.mode, why);
  if (entry.empty()) {
    err << "station: error: " << why << "\n";
    return 1;
  }
  out << entry;
  if (!install) return 0;

  std::string text;
  bool added = false;
  if (!ReadRulesFile(setup.rulesPath, text, why)) {
    err << "station: error: " << why << "\n";
    return 1;
  }
  text = WithRuleEntry(text, entry, added);
  if (!added) {
    err << "station: the rule is already in " << setup.rulesPath << "\n";
  } else if (!tr52::ReplaceFileAtomically(setup.rulesPath, text, why, 0644)) {
    err << "station: error: cannot write " << setup.rulesPath << ": " << why << "\n";
    return 1;
  } else {
    err << "station: rule for " << ModeName(answer.mode) << " added to " << setup.rulesPath << "\n";
  }
  err << "station: " << setup.reloadUdev() << "\n";
  return 0;
}

}  // namespace station
