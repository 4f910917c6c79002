// The station's loop: polls the configured ports, connects phones that appear, opens their
// panes, shows the panes as text, collects the final results and closes ports.
#pragma once

#include <deque>
#include <memory>

#include <optional>
#include <string>

#include "download_records.h"
#include "frame/plugin_ops.h"
#include "options.h"
#include "port_slot.h"
#include "run_report.h"
#include "station_history.h"
#include "stop_control.h"

namespace station {

class Station {
 public:
  // `logPath` is the plug-in's log file; the plug-in's download records are read beside it.
  Station(const Options& options, const PluginOps& ops, std::string logPath);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Creates the parent windows on the calling thread (which becomes the UI thread).
  bool Init();
  // Runs until done (batch), the quit key, a stop signal and the end of the downloads it let
  // run, a second stop signal, or the deadline (all from `stop`). Returns the exit status.
  // The same as the steps below, with the window layer's loop waiting between them.
  int Run(StopControl& stop);

  // The run in steps, for a front end whose own loop waits (all on the UI thread): Begin once;
  // then, each time the loop wakes, Continues (false: the run is over), PollIfDue when the
  // poll timer is up and AfterMessages after the window layer's messages were handled; End
  // once Continues said false.
  void Begin();
  // Looks at the stop (saying it once), the deadline and, in batch mode, the end of the work.
  [[nodiscard]] bool Continues(StopControl& stop);
  // Polls the ports when a poll is due (never while stopping: no new phones are taken).
  // Returns the milliseconds until the next poll is due.
  int PollIfDue(StopControl& stop);
  // Closes the panes whose results came and shows what changed on the panes.
  void AfterMessages();
  // True when AfterMessages will close a pane (a front end that draws later reads it first).
  bool ClosesDue() const;
  // Closes what is finished, says the summary and returns the exit status.
  int End(StopControl& stop);
  // True while some port's download has not delivered its final result.
  bool AnyDownloadRunning() const;
  // The record of the run so far, for --json: the ports' last downloads.
  RunReport Report() const;
  // Every download from here on goes into `history` (which outlives the run).
  void UseHistory(StationHistory* history) { history_ = history; }

 private:
  void PollPorts();
  void PollPort(PortSlot& slot, bool present);
  void StartDownload(PortSlot& slot);
  void OnResult(PortSlot& slot, win::WPARAM wParam);
  void ClosePane(PortSlot& slot);
  void CloseDueResults();
  void RefreshPanes();
  bool BatchDone() const;
  void CloseFinishedForExit();
  void PrintSummary(bool timedOut, bool interrupted) const;
  void ShowStop(StopControl& stop, StopPhase phase);
  bool IsPresent(PortSlot& slot);

  using Clock = std::chrono::steady_clock;

  Options options_;
  PluginOps ops_;
  std::string logPath_;
  DownloadRecordFeed records_;
  double wallSeconds_ = 0;
  bool timedOut_ = false;
  bool interrupted_ = false;
  bool stopShown_ = false;      // the stop was said
  std::string waitingShown_;    // the last "waiting for ..." said
  std::deque<PortSlot> slots_;  // stable addresses: window handlers refer to them
  std::chrono::milliseconds rebootWindow_;
  StationHistory* history_ = nullptr;
  Clock::time_point start_{};
  Clock::time_point nextPoll_{};
};

}  // namespace station
