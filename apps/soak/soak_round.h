// One station of a soak serving its ports: the station started in the work folder, what it says
// read line by line, and on each port a virtual phone plugged in when the station waits for one
// and unplugged at its result. The soak's rounds drive it and judge what it saw.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "soak/fault_draw.h"
#include "soak/soak_run.h"
#include "soak/station_process.h"
#include "vphone/virtual_phone.h"

namespace soak {

// A download that ended: its port, index on the port, result code (-1 unknown step notice, -2
// pane refused), seconds, and its fault (empty without one).
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

// Where a round finds its files.
struct SoakPaths {
  std::filesystem::path work;
  std::filesystem::path station;  // the copy of the station
  std::filesystem::path package;
};

class SoakRound {
 public:
  // `plan` (DrawPlan of the options) holds each port's downloads in order.
  SoakRound(const SoakOptions& options, const std::vector<PlannedDownload>& plan,
            const SoakPaths& paths);

  // Starts the station serving every port; `name` tells its standard error file apart.
  bool Start(const std::string& name, bool traceExit, std::string& error);
  // Handles what the station says for up to `wait` (less once it watches its ports).
  void Read(std::chrono::milliseconds wait);
  // Plugs a phone into every port whose station waits for one and that has downloads left;
  // with `firstOnly` only each port's first download.
  void Plug(bool firstOnly);
  // Unplugs every phone.
  void UnplugAll();

  bool Watching() const { return watching_; }
  // Every port unplugged, its station waiting, and at least `downloads` done on it.
  bool AllIdle(int downloads) const;
  Resources Sample() const;
  StationProcess& Station() { return station_; }

  // What was seen.
  const std::vector<Done>& Finished() const { return done_; }
  const std::map<std::string, int>& Codes() const { return codes_; }
  const Resources& Cold() const { return cold_; }  // when the station started watching
  // Downloads begun ("phone connected") and ended (a result or a refused pane).
  int Started() const { return started_; }
  int Ended() const { return static_cast<int>(done_.size()); }
  // The ports whose downloads ran when the station said it was interrupted, and the station's
  // lines about the stop ("interrupted (...)", "waiting for ..."), in order.
  const std::vector<std::string>& RunningAtStop() const { return runningAtStop_; }
  const std::vector<std::string>& StopLines() const { return stopLines_; }
  // Phones connected after the station said it was interrupted.
  int ConnectedAfterStop() const { return connectedAfterStop_; }
  std::vector<std::string>& Problems() { return problems_; }
  // What the station said about its history ("history | ..." lines), in order.
  const std::vector<std::string>& HistoryLines() const { return historyLines_; }

 private:
  struct Port {
    int com = 0;
    std::string name;
    int next = 0;  // index of the next download on this port
    std::unique_ptr<vphone::VirtualPhone> phone;
    bool plugged = false;
    bool stationWaiting = true;  // the station's last word on this port: waiting for a phone
    bool running = false;        // connected, no result yet
  };

  void OnLine(const std::string& line);
  Port* PortOf(const std::string& source);
  const PlannedDownload& Planned(const Port& port) const;

  const SoakOptions& options_;
  const std::vector<PlannedDownload>& plan_;
  SoakPaths paths_;
  StationProcess station_;
  std::vector<Port> ports_;
  bool watching_ = false;
  bool stopSaid_ = false;
  Resources cold_;
  std::vector<Done> done_;
  std::map<std::string, int> codes_;  // "result 0: ..." -> count
  int started_ = 0;
  int connectedAfterStop_ = 0;
  std::vector<std::string> runningAtStop_;
  std::vector<std::string> stopLines_;
  std::vector<std::string> problems_;
  std::vector<std::string> historyLines_;
};

}  // namespace soak
