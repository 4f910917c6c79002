#include "soak/soak_round.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "vphone/scenario.h"

namespace soak {
namespace {

using SteadyClock = std::chrono::steady_clock;

// "<time> COM31 | text": the source and the text; nullopt for other lines.
std::optional<std::pair<std::string, std::string>> SplitLine(const std::string& line) {
  const size_t bar = line.find(" | ");
  if (bar == std::string::npos) return std::nullopt;
  const size_t space = line.rfind(' ', bar - 1);
  const size_t from = space == std::string::npos ? 0 : space + 1;
  return std::make_pair(line.substr(from, bar - from), line.substr(bar + 3));
}

// The code and seconds of "RESULT OK (result 0: ...) after 4.2 s"; code -1 when the line
// carries none (an unknown step notice).
std::pair<int, double> ParseResult(const std::string& text) {
  int code = -1;
  double seconds = 0;
  if (const size_t at = text.find("(result "); at != std::string::npos)
    code = std::atoi(text.c_str() + at + 8);
  if (const size_t at = text.rfind(" after "); at != std::string::npos)
    seconds = std::atof(text.c_str() + at + 7);
  return {code, seconds};
}

std::string CodeName(const std::string& text) {
  const size_t open = text.find("(result ");
  const size_t close = text.rfind(") after ");
  if (open == std::string::npos || close == std::string::npos || close < open) return text;
  return text.substr(open + 1, close - open - 1);
}

}  // namespace

SoakRound::SoakRound(const SoakOptions& options, const std::vector<PlannedDownload>& plan,
                     const SoakPaths& paths)
    : options_(options), plan_(plan), paths_(paths), ports_(static_cast<size_t>(options.phones)) {
  for (int i = 0; i < options.phones; ++i) {
    ports_[static_cast<size_t>(i)].com = options.firstCom + i;
    ports_[static_cast<size_t>(i)].name = "COM" + std::to_string(options.firstCom + i);
  }
}

bool SoakRound::Start(const std::string& name, bool traceExit, std::string& error) {
  std::string list;
  for (const Port& port : ports_) {
    if (!list.empty()) list += ',';
    list += std::to_string(port.com);
  }
  char scale[32];
  std::snprintf(scale, sizeof scale, "%g", options_.timeScale);
  std::vector<std::string> args = {
      "--package", paths_.package.string(), "--ports", list, "--time-scale", scale, "--poll-ms",
      "100"};
  args.insert(args.end(), options_.stationArgs.begin(), options_.stationArgs.end());
  return station_.Start(paths_.station.string(), args,
                        (paths_.work / (name + "_stderr.txt")).string(), traceExit, error);
}

SoakRound::Port* SoakRound::PortOf(const std::string& source) {
  for (auto& p : ports_)
    if (p.name == source) return &p;
  return nullptr;
}

const PlannedDownload& SoakRound::Planned(const Port& port) const {
  return plan_[static_cast<size_t>((port.com - options_.firstCom) * options_.downloads +
                                   port.next)];
}

void SoakRound::Read(std::chrono::milliseconds wait) {
  while (auto line = station_.NextLine(watching_ ? std::chrono::milliseconds(20) : wait))
    OnLine(*line);
}

void SoakRound::OnLine(const std::string& line) {
  const auto parts = SplitLine(line);
  if (!parts) return;
  const auto& [source, text] = *parts;
  if (source == "history") {
    historyLines_.push_back(text);
    return;
  }
  if (source == "station") {
    if (text.rfind("watching", 0) == 0) {
      watching_ = true;
      cold_ = Sample();
    } else if (text.rfind("interrupted (", 0) == 0) {
      stopSaid_ = true;
      for (const Port& p : ports_)
        if (p.running) runningAtStop_.push_back(p.name);
      stopLines_.push_back(text);
    } else if (text.rfind("waiting for ", 0) == 0) {
      stopLines_.push_back(text);
    }
    return;
  }
  Port* port = PortOf(source);
  if (port == nullptr) return;
  if (text.find("waiting for a phone") != std::string::npos) port->stationWaiting = true;
  if (text == "phone connected") {
    port->stationWaiting = false;
    if (port->running)
      problems_.push_back(port->name + " connected a phone while its download ran");
    port->running = true;
    ++started_;
    if (stopSaid_) ++connectedAfterStop_;
  }
  const bool refused = text.find("could not open the progress pane") != std::string::npos;
  if (text.rfind("RESULT ", 0) != 0 && !refused) return;
  port->running = false;
  if (!port->plugged) return;
  const auto [code, seconds] = refused ? std::make_pair(-2, 0.0) : ParseResult(text);
  const PlannedDownload& d = Planned(*port);
  done_.push_back({port->com, port->next, code, seconds, d.fault});
  ++codes_[refused ? std::string("pane refused") : CodeName(text)];
  if (!d.faulted && code != 0)
    std::printf("soak: %s download %d without a fault: %s\n", port->name.c_str(), port->next + 1,
                text.c_str());
  if (!d.faulted && code != 0 && !options_.unfaultedMayFail)
    problems_.push_back(port->name + " download " + std::to_string(port->next + 1) +
                        " without a fault ended with: " + text);
  // Unplug: the port vanishes; the station closes the pane and waits for the next phone.
  port->phone.reset();
  port->plugged = false;
  ++port->next;
}

void SoakRound::Plug(bool firstOnly) {
  for (Port& port : ports_) {
    if (port.plugged || !port.stationWaiting || port.next >= options_.downloads) continue;
    if (firstOnly && port.next >= 1) continue;
    const PlannedDownload& d = Planned(port);
    vphone::PhoneOptions phone;
    phone.com = port.com;
    phone.startMode = d.downloadMode ? vphone::Mode::Download : vphone::Mode::Normal;
    phone.rebootDelayMs = options_.rebootDelayMs;
    phone.scenario = vphone::ParseScenario(d.scenario);
    auto started = std::make_unique<vphone::VirtualPhone>(phone);
    std::string error;
    if (!started->Start(&error)) {
      problems_.push_back(port.name + ": the phone could not start: " + error);
      continue;
    }
    port.phone = std::move(started);
    port.plugged = true;
    port.stationWaiting = false;
  }
}

void SoakRound::UnplugAll() {
  for (Port& port : ports_) {
    port.phone.reset();
    port.plugged = false;
  }
}

bool SoakRound::AllIdle(int downloads) const {
  return std::all_of(ports_.begin(), ports_.end(), [downloads](const Port& p) {
    return !p.plugged && p.stationWaiting && p.next >= downloads;
  });
}

Resources SoakRound::Sample() const {
  return Resources{station_.ResidentKiB(), station_.OpenFds()};
}

}  // namespace soak
