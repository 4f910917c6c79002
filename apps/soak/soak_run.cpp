#include "soak/soak_run.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "dz_writer.h"
#include "package/image_store.h"
#include "soak/fault_draw.h"
#include "soak/station_process.h"
#include "vphone/scenario.h"
#include "vphone/virtual_phone.h"

namespace soak {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr const char* kPlugin = "TR52_091117_MP.so";
constexpr const char* kWindowLayer = "libtr52_win.so";

std::vector<uint8_t> RandomBytes(size_t n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

// The package every phone gets: the images of the plug-in's mask, AMSS enciphered.
bool WritePackage(const std::string& path) {
  const std::pair<int, size_t> sizes[] = {
      {tr52::IMAGE_PARTITION_TBL, 300},       {tr52::IMAGE_DBL, 24 * 1024 + 17},
      {tr52::IMAGE_FSBL, 40 * 1024 + 3},      {tr52::IMAGE_OSBL, 96 * 1024 + 511},
      {tr52::IMAGE_FLEXIBLE_LOGO, 64 * 1024}, {tr52::IMAGE_AMSS, 200 * 1024},
      {tr52::IMAGE_EFS_GANG, 96 * 1024}};
  std::vector<std::vector<uint8_t>> data;
  for (const auto& [type, size] : sizes) data.push_back(RandomBytes(size, type));
  tr52::DzWriter writer;
  for (size_t i = 0; i < std::size(sizes); ++i) {
    const int type = sizes[i].first;
    writer.Add({static_cast<uint32_t>(type), tr52::ImageTypeName(type), type == tr52::IMAGE_AMSS,
                data[i]});
  }
  return writer.Write(path);
}

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

struct Port {
  int com = 0;
  std::string name;
  int next = 0;  // index of the next download on this port
  std::unique_ptr<vphone::VirtualPhone> phone;
  bool plugged = false;
  bool stationWaiting = true;  // the station's last word on this port: waiting for a phone
  SteadyClock::time_point pluggedAt;
};

struct Done {
  int port;
  int index;
  int code;
  double seconds;
  std::string fault;
};

struct Resources {
  long rssKiB = -1;
  int fds = -1;
};

bool CopyBin(const std::string& from, const fs::path& to, std::string& error) {
  std::error_code ec;
  fs::create_directories(to, ec);
  for (const char* name : {"station", kWindowLayer, kPlugin}) {
    fs::copy_file(fs::path(from) / name, to / name, fs::copy_options::overwrite_existing, ec);
    if (ec) {
      error = "cannot copy " + (fs::path(from) / name).string() + ": " + ec.message();
      return false;
    }
  }
  return true;
}

}  // namespace

int RunSoak(const SoakOptions& o) {
  const int total = o.phones * o.downloads;
  std::printf("soak: %d phones x %d downloads = %d, seed %llu, time scale %g\n", o.phones,
              o.downloads, total, static_cast<unsigned long long>(o.seed), o.timeScale);

  // The work folder: station copy (its settings and log land beside it), port table, package.
  std::string tmpl = (fs::temp_directory_path() / "tr52-soak-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) {
    std::fprintf(stderr, "soak: cannot make a work folder\n");
    return 2;
  }
  const fs::path work = tmpl;
  const fs::path bin = work / "bin";
  const fs::path ports = work / "ports";
  const fs::path package = work / "TR52_SOAK.dz";
  std::string error;
  if (!CopyBin(o.binDir, bin, error)) {
    std::fprintf(stderr, "soak: %s\n", error.c_str());
    return 2;
  }
  if (::mkdir(ports.c_str(), 0700) != 0 || !WritePackage(package.string())) {
    std::fprintf(stderr, "soak: cannot set up %s\n", work.c_str());
    return 2;
  }
  // The phones of this process and the station both read the port table from here.
  setenv("TR52_PORT_TABLE", ports.c_str(), 1);

  const std::vector<PlannedDownload> plan = DrawPlan(o.phones, o.downloads, o.seed);
  int faultedCount = 0;
  for (const auto& d : plan) faultedCount += d.faulted ? 1 : 0;
  std::printf("soak: %d downloads with a fault\n", faultedCount);

  std::vector<Port> portList(static_cast<size_t>(o.phones));
  std::string list;
  for (int i = 0; i < o.phones; ++i) {
    portList[i].com = o.firstCom + i;
    portList[i].name = "COM" + std::to_string(o.firstCom + i);
    list += (i ? "," : "") + std::to_string(o.firstCom + i);
  }

  StationProcess station;
  char scale[32];
  std::snprintf(scale, sizeof scale, "%g", o.timeScale);
  if (!station.Start((bin / "station").string(),
                     {"--package", package.string(), "--ports", list, "--time-scale", scale,
                      "--poll-ms", "100"},
                     (work / "station_stderr.txt").string(), error)) {
    std::fprintf(stderr, "soak: %s\n", error.c_str());
    return 2;
  }

  const auto started = SteadyClock::now();
  const auto deadline = started + std::chrono::seconds(o.timeoutSeconds);
  bool watching = false;
  Resources cold, start, end;
  bool startTaken = false;
  std::vector<Done> done;
  std::map<std::string, int> codes;  // "result 0: ..." -> count
  std::vector<std::string> problems;

  auto sample = [&station] { return Resources{station.ResidentKiB(), station.OpenFds()}; };
  auto portOf = [&portList](const std::string& source) -> Port* {
    for (auto& p : portList)
      if (p.name == source) return &p;
    return nullptr;
  };
  auto allIdle = [&portList](int atLeast) {
    return std::all_of(portList.begin(), portList.end(), [atLeast](const Port& p) {
      return !p.plugged && p.stationWaiting && p.next >= atLeast;
    });
  };

  for (;;) {
    if (SteadyClock::now() > deadline) {
      problems.push_back("the run took longer than " + std::to_string(o.timeoutSeconds) + " s");
      break;
    }
    if (station.OutputEnded()) {
      problems.push_back("the station ended by itself");
      break;
    }
    // Everything the station said.
    while (auto line = station.NextLine(std::chrono::milliseconds(watching ? 20 : 200))) {
      const auto parts = SplitLine(*line);
      if (!parts) continue;
      const auto& [source, text] = *parts;
      if (source == "station" && text.rfind("watching", 0) == 0) {
        watching = true;
        cold = sample();
        continue;
      }
      Port* port = portOf(source);
      if (port == nullptr) continue;
      if (text.find("waiting for a phone") != std::string::npos) port->stationWaiting = true;
      if (text == "phone connected") port->stationWaiting = false;
      const bool refused = text.find("could not open the progress pane") != std::string::npos;
      if ((text.rfind("RESULT ", 0) == 0 || refused) && port->plugged) {
        const auto [code, seconds] = refused ? std::make_pair(-2, 0.0) : ParseResult(text);
        const PlannedDownload& d =
            plan[static_cast<size_t>((port->com - o.firstCom) * o.downloads + port->next)];
        done.push_back({port->com, port->next, code, seconds, d.fault});
        ++codes[refused ? std::string("pane refused") : CodeName(text)];
        if (!d.faulted && code != 0)
          std::printf("soak: %s download %d without a fault: %s\n", port->name.c_str(),
                      port->next + 1, text.c_str());
        if (!d.faulted && code != 0 && !o.unfaultedMayFail)
          problems.push_back(port->name + " download " + std::to_string(port->next + 1) +
                             " without a fault ended with: " + text);
        if (done.size() % std::max<size_t>(static_cast<size_t>(total) / 10, 1) == 0)
          std::printf("soak: %zu/%d downloads done (%.0f s)\n", done.size(), total,
                      std::chrono::duration<double>(SteadyClock::now() - started).count());
        // Unplug: the port vanishes; the station closes the pane and waits for the next phone.
        port->phone.reset();
        port->plugged = false;
        ++port->next;
      }
    }
    if (!watching) continue;

    // The warm state: every port has had its first download and is idle again.
    if (!startTaken && allIdle(std::min(1, o.downloads))) {
      start = sample();
      startTaken = true;
    }
    if (allIdle(o.downloads)) break;

    for (Port& port : portList) {
      if (port.plugged || !port.stationWaiting || port.next >= o.downloads) continue;
      if (port.next == 1 && !startTaken) continue;  // the others' first downloads first
      const PlannedDownload& d =
          plan[static_cast<size_t>((port.com - o.firstCom) * o.downloads + port.next)];
      vphone::PhoneOptions options;
      options.com = port.com;
      options.startMode = d.downloadMode ? vphone::Mode::Download : vphone::Mode::Normal;
      options.rebootDelayMs = o.rebootDelayMs;
      options.scenario = vphone::ParseScenario(d.scenario);
      auto phone = std::make_unique<vphone::VirtualPhone>(options);
      if (!phone->Start(&error)) {
        problems.push_back(port.name + ": the phone could not start: " + error);
        continue;
      }
      port.phone = std::move(phone);
      port.plugged = true;
      port.stationWaiting = false;
      port.pluggedAt = SteadyClock::now();
    }
  }
  if (problems.empty() || allIdle(o.downloads)) end = sample();
  for (Port& port : portList) port.phone.reset();
  const int stationStatus = station.Stop(std::chrono::milliseconds(10000));
  const double wall = std::chrono::duration<double>(SteadyClock::now() - started).count();

  // The figures.
  std::printf("\nsoak: %zu of %d downloads done in %.0f s\n", done.size(), total, wall);
  std::printf("soak: codes seen:\n");
  for (const auto& [name, count] : codes) std::printf("  %5d  %s\n", count, name.c_str());
  std::printf("soak: station before any download: %ld KiB resident, %d fds\n", cold.rssKiB,
              cold.fds);
  std::printf("soak: station at the start (first downloads done, idle): %ld KiB, %d fds\n",
              start.rssKiB, start.fds);
  std::printf("soak: station at the end (idle): %ld KiB, %d fds\n", end.rssKiB, end.fds);
  if (!done.empty()) {
    const Done& slowest =
        *std::max_element(done.begin(), done.end(),
                          [](const Done& a, const Done& b) { return a.seconds < b.seconds; });
    std::printf("soak: slowest download: COM%d #%d, %.1f s, code %d%s%s\n", slowest.port,
                slowest.index + 1, slowest.seconds, slowest.code,
                slowest.fault.empty() ? "" : ", fault: ", slowest.fault.c_str());
  }
  std::printf("soak: station exit status %d\n", stationStatus);

  // The verdict.
  if (static_cast<int>(done.size()) != total)
    problems.push_back("only " + std::to_string(done.size()) + " downloads finished");
  if (start.fds < 0 || end.fds != start.fds)
    problems.push_back("open fds changed from " + std::to_string(start.fds) + " to " +
                       std::to_string(end.fds));
  if (start.rssKiB <= 0 || end.rssKiB < 0 ||
      static_cast<double>(end.rssKiB) > static_cast<double>(start.rssKiB) * (1.0 + o.maxGrowth)) {
    char text[128];
    std::snprintf(text, sizeof text, "resident memory grew from %ld KiB to %ld KiB (over %.0f %%)",
                  start.rssKiB, end.rssKiB, o.maxGrowth * 100);
    problems.push_back(text);
  }
  // SIGTERM ends the station with 130; anything else means it broke down on the way.
  if (stationStatus != 130)
    problems.push_back("the station ended with status " + std::to_string(stationStatus));

  // A sanitizer build of the station reports what it found on its standard error.
  {
    std::ifstream in(work / "station_stderr.txt");
    std::string line;
    while (std::getline(in, line)) {
      if (line.find("Sanitizer") == std::string::npos) continue;
      problems.push_back("the station's standard error: " + line);
      break;
    }
  }
  for (const auto& p : problems) std::printf("soak: PROBLEM: %s\n", p.c_str());
  if (problems.empty() && !o.keep) {
    std::error_code ec;
    fs::remove_all(work, ec);
  } else {
    std::printf("soak: work folder kept: %s\n", work.c_str());
  }
  std::printf("soak: %s\n", problems.empty() ? "HEALTHY" : "NOT HEALTHY");
  return problems.empty() ? 0 : 1;
}

}  // namespace soak
