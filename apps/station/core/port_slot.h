// What the station knows about one configured COM port.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pane_view.h"
#include "session/download_record.h"
#include "win/window.h"

namespace station {

using SteadyTime = std::chrono::steady_clock::time_point;

// One download on a port, from OpenProgress to its final result.
struct SessionRecord {
  SteadyTime started{};
  SteadyTime ended{};
  bool hasResult = false;
  unsigned result = 0;   // low word of the result message: 1 = success, 0 = unknown step
  bool refused = false;  // the plug-in would not open a pane for it
  // The plug-in's record of the download, read when its result came; none when it wrote none.
  std::optional<tr52::DownloadRecord> record;
  std::string historyUid;  // its row in the history; empty with the history off
};

// The downloads of one port: the last one in full (the report, the summary and the history
// read it), the ones before it only counted, so that a station serving phones all day keeps
// the same memory however many it has served.
class PortSessions {
 public:
  // A new download; the one before it (ended by now) is folded into the counts.
  SessionRecord& Start(SteadyTime started);

  bool Empty() const { return !last_; }
  int Count() const { return earlier_ + (last_ ? 1 : 0); }
  int Succeeded() const;       // downloads whose result word was 1
  bool AnyFailed() const;      // refused, or a result other than 1
  bool AnyUnfinished() const;  // started, neither refused nor given a result
  // The last download; only when !Empty().
  SessionRecord& Last() { return *last_; }
  const SessionRecord& Last() const { return *last_; }

 private:
  std::optional<SessionRecord> last_;
  int earlier_ = 0;
  int earlierSucceeded_ = 0;
  bool earlierFailed_ = false;
  bool earlierUnfinished_ = false;
};

enum class PortState {
  Waiting,    // armed: the next phone that appears is downloaded
  Running,    // pane open, download under way
  Finished,   // final result in, pane still open until the phone goes away (interactive)
  Rebooting,  // pane closed after a success; the phone is expected back from its final reset
  Returned,   // the downloaded phone is back; waiting for it to be unplugged
  Refused,    // the plug-in would not open a pane; waiting for the phone to go away
  Closed,     // batch mode: finished and closed, no further download
};

struct PortSlot {
  explicit PortSlot(int p) : port(p), name("COM" + std::to_string(p)), view(name) {}

  int port;
  std::string name;
  PortState state = PortState::Waiting;
  std::unique_ptr<win::CWnd> window;  // the pane's parent, handed to the plug-in
  PaneView view;
  PortSessions sessions;
  bool connectFailureShown = false;  // IsConnected failures are shown once per appearance
  bool connectEverFailed = false;
  bool enumErrorShown = false;  // enumeration errors are shown once while they last
  bool closePending = false;    // result in, CloseProgress due in the main loop
  SteadyTime rebootDeadline{};
};

// Describes a result word for people, with the download's result code and its name:
// "OK (result 0: success)", "FAILED (result 1015: ZU3G_ERROR_NO_IMAGE)", ...
std::string DescribeResult(unsigned result);

// The download's result code for the low word of a result message: 1 means success (code 0),
// 0 an unknown step notice (no code); any other word is the code itself.
std::optional<int> ResultCodeOfWord(unsigned word);

}  // namespace station
