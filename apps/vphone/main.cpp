// vphone: a TR52 handset on a pseudo-terminal, declared in the port table under a COM number,
// until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "platform/atomic_file.h"
#include "platform/port_table.h"
#include "vphone/scenario.h"
#include "vphone/virtual_phone.h"

namespace {

const char kUsage[] =
    "usage: vphone --com N [options]\n"
    "\n"
    "A virtual TR52 handset on a pseudo-terminal, declared in the port table as\n"
    "\"ZUM Mobile USB Serial Port (COMn)\". It answers DIAG in normal mode and the download\n"
    "protocol and NAND programmer in download mode, reboots (its port vanishes and comes back)\n"
    "when told to switch modes, and keeps what was flashed. Runs until SIGINT or SIGTERM.\n"
    "\n"
    "options:\n"
    "  --com N                COM number to declare (0..255), required\n"
    "  --mode normal|download mode at power-on (default normal)\n"
    "  --scenario FILE        fault scenario, \"key = value\" lines (keys: "
    "apps/vphone/scenario.h)\n"
    "  --reboot-delay-ms N    how long the port stays away on a reboot (default 3000)\n"
    "  --answer-latency-us N  write every answer N microseconds after it was made, like a\n"
    "                         USB serial line's turnaround (default 0; overrides the\n"
    "                         scenario's phone.answer_latency_us)\n"
    "  --link-bytes-per-s N   carry at most N bytes a second each way, as a real phone's\n"
    "                         line does (default 0: as fast as the pseudo-terminal goes)\n"
    "  --state-out FILE       write the phone's state (modes, counters, NV, flash with a\n"
    "                         SHA-256 per image) to FILE on exit\n"
    "  --trace                print every request, answer and port change\n"
    "  -h, --help             this text\n"
    "\n"
    "The port table folder is $TR52_PORT_TABLE, else $XDG_RUNTIME_DIR/tr52-ports, else\n"
    "${TMPDIR:-/tmp}/tr52-ports-<uid>.\n";

int Fail(const std::string& message) {
  std::cerr << "vphone: " << message << "\n(try vphone --help)\n";
  return 2;
}

// The state file is replaced whole: a reader never sees half of it.
bool WriteState(const vphone::VirtualPhone& phone, const std::string& path, std::string& error) {
  std::ostringstream out;
  phone.DumpState(out);
  return tr52::ReplaceFileAtomically(path, out.str(), error);
}

}  // namespace

int main(int argc, char** argv) {
  vphone::PhoneOptions options;
  bool haveCom = false;
  std::string scenarioPath, stateOut;
  bool haveLatency = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--com") {
      if (!value(v)) return Fail("--com needs a number");
      auto n = vphone::ParseInt(v);
      if (!n || *n < 0 || *n > 255) return Fail("--com must be a number from 0 to 255: " + v);
      options.com = static_cast<int>(*n);
      haveCom = true;
    } else if (arg == "--mode") {
      if (!value(v)) return Fail("--mode needs normal or download");
      if (v == "normal")
        options.startMode = vphone::Mode::Normal;
      else if (v == "download")
        options.startMode = vphone::Mode::Download;
      else
        return Fail("--mode must be normal or download: " + v);
    } else if (arg == "--scenario") {
      if (!value(scenarioPath)) return Fail("--scenario needs a file");
    } else if (arg == "--reboot-delay-ms") {
      if (!value(v)) return Fail("--reboot-delay-ms needs a number");
      auto n = vphone::ParseInt(v);
      if (!n || *n < 0 || *n > 3600000) return Fail("--reboot-delay-ms out of range: " + v);
      options.rebootDelayMs = static_cast<uint32_t>(*n);
    } else if (arg == "--answer-latency-us") {
      if (!value(v)) return Fail("--answer-latency-us needs a number");
      auto n = vphone::ParseInt(v);
      if (!n || *n < 0 || *n > 10000000) return Fail("--answer-latency-us out of range: " + v);
      options.answerLatencyUs = static_cast<uint32_t>(*n);
      haveLatency = true;
    } else if (arg == "--link-bytes-per-s") {
      if (!value(v)) return Fail("--link-bytes-per-s needs a number");
      auto n = vphone::ParseInt(v);
      if (!n || *n < 0 || *n > 1000000000) return Fail("--link-bytes-per-s out of range: " + v);
      options.linkBytesPerSecond = static_cast<uint64_t>(*n);
    } else if (arg == "--trace") {
      options.trace = [](const std::string& line) { std::cout << line << std::endl; };
    } else if (arg == "--state-out") {
      if (!value(stateOut)) return Fail("--state-out needs a file");
    } else {
      return Fail("unknown option " + arg);
    }
  }
  if (!haveCom) return Fail("--com is required");
  if (!scenarioPath.empty()) {
    std::string error;
    if (!vphone::LoadScenarioFile(scenarioPath, options.scenario, error)) return Fail(error);
  }
  // The command line wins over the scenario file.
  if (haveLatency) options.scenario.erase("phone.answer_latency_us");

  // Signals are taken by sigwait below; block them before the phone's thread starts so that
  // it inherits the mask.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  vphone::VirtualPhone phone(options);
  std::string error;
  if (!phone.Start(&error)) {
    std::cerr << "vphone: " << error << "\n";
    return 1;
  }
  std::cout << "vphone: COM" << options.com << " on " << phone.DevicePath() << " ("
            << vphone::ModeName(options.startMode) << " mode), port table " << tr52::PortTableDir()
            << std::endl;

  int sig = 0;
  sigwait(&set, &sig);
  phone.Stop();
  if (std::string error; !stateOut.empty() && !WriteState(phone, stateOut, error)) {
    std::cerr << "vphone: cannot write state to " << stateOut << ": " << error << "\n";
    return 1;
  }
  std::cout << "vphone: COM" << options.com << " stopped (" << strsignal(sig) << ")" << std::endl;
  return 0;
}
