#include "soak/soak_run.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "dz_writer.h"
#include "package/image_type.h"
#include "soak/fault_draw.h"
#include "soak/history_check.h"
#include "soak/soak_round.h"

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

std::string Difference(const std::multiset<std::string>& later,
                       const std::multiset<std::string>& earlier) {
  std::vector<std::string> extra;
  std::set_difference(later.begin(), later.end(), earlier.begin(), earlier.end(),
                      std::back_inserter(extra));
  std::string text;
  for (const auto& e : extra) text += (text.empty() ? "" : ", ") + e;
  return text;
}

// The station's status for the downloads of a run that a stop ended without leaving any
// unfinished: 1 when one of them failed, else 0.
int StatusOfDownloads(const std::vector<Done>& done) {
  return std::any_of(done.begin(), done.end(), [](const Done& d) { return d.code != 0; }) ? 1 : 0;
}

void PrintCodes(const std::map<std::string, int>& codes) {
  for (const auto& [name, count] : codes) std::printf("  %5d  %s\n", count, name.c_str());
}

// The stop round: a station serving the ports as before, a stop signal (drawn: SIGINT, SIGTERM
// or SIGHUP) at a drawn moment of the busy run, then no new phones. Every download that started
// must end with its code, the station must say which ports it waits for and leave by itself once
// they ended, with their status, and nothing it opened meanwhile may be open at its exit.
void RunStopRound(const SoakOptions& o, const std::vector<PlannedDownload>& plan,
                  const SoakPaths& paths, std::vector<std::string>& problems) {
  std::mt19937_64 draw(o.seed ^ 0x5701u);
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  const char* names[] = {"SIGINT", "SIGTERM", "SIGHUP"};
  const size_t which = static_cast<size_t>(draw() % 3);
  const auto delay = std::chrono::milliseconds(500 + draw() % 6000);
  std::printf("\nsoak: stop round: %s %lld ms after every port's first download\n", names[which],
              static_cast<long long>(delay.count()));

  SoakRound round(o, plan, paths);
  std::string error;
  if (!round.Start("stop_round", true, error)) {
    problems.push_back("stop round: " + error);
    return;
  }
  const auto deadline = SteadyClock::now() + std::chrono::seconds(o.timeoutSeconds);
  auto failed = [&](const std::string& why) {
    problems.push_back("stop round: " + why);
    round.UnplugAll();
  };
  // Every port's first download, then the start's descriptors.
  while (!round.Watching() || !round.AllIdle(1)) {
    if (SteadyClock::now() > deadline || round.Station().OutputEnded())
      return failed("the first downloads did not end");
    round.Read(std::chrono::milliseconds(200));
    if (round.Watching()) round.Plug(true);
  }
  const std::multiset<std::string> startFds = round.Station().OpenFdTargets();
  // Busy again until the drawn moment.
  const auto stopAt = SteadyClock::now() + delay;
  while (SteadyClock::now() < stopAt) {
    round.Read(std::chrono::milliseconds(20));
    round.Plug(false);
  }
  const auto stopped = SteadyClock::now();
  round.Station().Signal(signals[which]);
  // No more phones; the station leaves by itself once its running downloads ended.
  while (!round.Station().OutputEnded()) {
    if (SteadyClock::now() > deadline) return failed("the station did not leave after the stop");
    round.Read(std::chrono::milliseconds(100));
  }
  const std::optional<int> status = round.Station().WaitExit(std::chrono::seconds(30));
  const double drained = std::chrono::duration<double>(SteadyClock::now() - stopped).count();
  round.UnplugAll();
  for (auto& p : round.Problems()) problems.push_back("stop round: " + p);

  std::printf(
      "soak: stop round: %zu download(s) running at the stop, the station left %.1f s "
      "later with status %d\n",
      round.RunningAtStop().size(), drained, status.value_or(-1));
  for (const auto& line : round.StopLines())
    std::printf("soak: stop round: station: %s\n", line.c_str());
  std::printf("soak: stop round: %d download(s) started, %d ended with a code:\n", round.Started(),
              round.Ended());
  PrintCodes(round.Codes());

  if (round.Started() != round.Ended())
    problems.push_back("stop round: " + std::to_string(round.Started()) +
                       " downloads started, but " + std::to_string(round.Ended()) + " ended");
  if (round.ConnectedAfterStop() > 0)
    problems.push_back("stop round: " + std::to_string(round.ConnectedAfterStop()) +
                       " phone(s) taken after the stop");
  std::string expected = "interrupted (" + std::string(names[which]) + ")";
  std::string list;
  for (const auto& port : round.RunningAtStop()) list += (list.empty() ? "" : ", ") + port;
  if (!list.empty()) expected += "|waiting for " + list + " to finish; Ctrl-C again to leave them";
  std::string said;
  for (const auto& line : round.StopLines())
    said += (said.empty() ? "" : "|") +
            (line.rfind("interrupted (", 0) == 0 ? line.substr(0, line.find(')') + 1) : line);
  if (said.rfind(expected, 0) != 0)
    problems.push_back("stop round: the station said \"" + said + "\", expected \"" + expected +
                       "\" first");
  const int expectedStatus = StatusOfDownloads(round.Finished());
  if (status != expectedStatus)
    problems.push_back("stop round: the station ended with status " +
                       std::to_string(status.value_or(-1)) + ", expected " +
                       std::to_string(expectedStatus));
  const auto exitFds = round.Station().ExitFds();
  if (!exitFds) {
    problems.push_back("stop round: the descriptors at the station's exit were not seen (" +
                       round.Station().ExitTraceError() + ")");
    return;
  }
  const std::string left = Difference(*exitFds, startFds);
  std::printf("soak: stop round: station fds at the start %zu, at its exit %zu, left open: %s\n",
              startFds.size(), exitFds->size(), left.empty() ? "none" : left.c_str());
  if (!left.empty()) problems.push_back("stop round: left open at the exit: " + left);
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
  const SoakPaths paths{work, bin / "station", work / "TR52_SOAK.dz"};
  std::string error;
  if (!CopyBin(o.binDir, bin, error)) {
    std::fprintf(stderr, "soak: %s\n", error.c_str());
    return 2;
  }
  if (::mkdir(ports.c_str(), 0700) != 0 || !WritePackage(paths.package.string())) {
    std::fprintf(stderr, "soak: cannot set up %s\n", work.c_str());
    return 2;
  }
  // The phones of this process and the station both read the port table from here.
  setenv("TR52_PORT_TABLE", ports.c_str(), 1);

  const std::vector<PlannedDownload> plan = DrawPlan(o.phones, o.downloads, o.seed);
  int faultedCount = 0;
  for (const auto& d : plan) faultedCount += d.faulted ? 1 : 0;
  std::printf("soak: %d downloads with a fault\n", faultedCount);

  // The station's history, checked after the run: a file of its own in the work folder.
  const fs::path historyFile = work / "history.sqlite";
  SoakOptions withHistory = o;
  withHistory.stationArgs.insert(withHistory.stationArgs.end(),
                                 {"--history", historyFile.string(), "--station-id", "soak"});
  SoakRound round(withHistory, plan, paths);
  if (!round.Start("station", false, error)) {
    std::fprintf(stderr, "soak: %s\n", error.c_str());
    return 2;
  }

  const auto started = SteadyClock::now();
  const auto deadline = started + std::chrono::seconds(o.timeoutSeconds);
  Resources start, end;
  bool startTaken = false;
  std::vector<std::string> problems;
  size_t reported = 0;
  const size_t step = std::max<size_t>(static_cast<size_t>(total) / 10, 1);

  for (;;) {
    if (SteadyClock::now() > deadline) {
      problems.push_back("the run took longer than " + std::to_string(o.timeoutSeconds) + " s");
      break;
    }
    if (round.Station().OutputEnded()) {
      problems.push_back("the station ended by itself");
      break;
    }
    round.Read(std::chrono::milliseconds(200));
    for (; reported + step <= round.Finished().size(); reported += step)
      std::printf("soak: %zu/%d downloads done (%.0f s)\n", reported + step, total,
                  std::chrono::duration<double>(SteadyClock::now() - started).count());
    if (!round.Watching()) continue;

    // The warm state: every port has had its first download and is idle again.
    if (!startTaken && round.AllIdle(std::min(1, o.downloads))) {
      start = round.Sample();
      startTaken = true;
    }
    if (round.AllIdle(o.downloads)) break;
    round.Plug(!startTaken);
  }
  if (problems.empty() || round.AllIdle(o.downloads)) end = round.Sample();
  round.UnplugAll();
  const int stationStatus = round.Station().Stop(std::chrono::milliseconds(10000));
  const double wall = std::chrono::duration<double>(SteadyClock::now() - started).count();
  for (auto& p : round.Problems()) problems.push_back(p);
  const std::vector<Done>& done = round.Finished();
  const Resources cold = round.Cold();

  // The figures.
  std::printf("\nsoak: %zu of %d downloads done in %.0f s\n", done.size(), total, wall);
  std::printf("soak: codes seen:\n");
  PrintCodes(round.Codes());
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
  // SIGTERM on the idle station ends it with the status of its downloads; anything else means
  // it broke down on the way.
  if (stationStatus != StatusOfDownloads(done))
    problems.push_back("the station ended with status " + std::to_string(stationStatus) +
                       ", expected " + std::to_string(StatusOfDownloads(done)));

  CheckHistory(historyFile.string(), round.Station().Pid(), round.Started(), problems);

  // The stop round's station starts a new log in the same folder: the main round's is moved
  // aside first, so that a kept work folder still tells what went wrong there.
  std::error_code moved;
  fs::rename(bin / "station_log.txt", work / "main_round_log.txt", moved);
  RunStopRound(withHistory, plan, paths, problems);

  // A sanitizer build of the station reports what it found on its standard error.
  for (const char* name : {"station_stderr.txt", "stop_round_stderr.txt"}) {
    std::ifstream in(work / name);
    std::string line;
    while (std::getline(in, line)) {
      if (line.find("Sanitizer") == std::string::npos) continue;
      problems.push_back(std::string(name) + ": " + line);
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
