#include "station.h"

#include <algorithm>
#include <cstdio>
#include <exception>

#include "base/messages.h"
#include "console.h"
#include "platform/process_info.h"
#include "port_report.h"
#include "run_exit_status.h"
#include "session/result_codes.h"

namespace station {
namespace {

// Panes are looked at this often while messages flow.
constexpr int kRefreshMs = 50;
// A phone needs up to a minute (plug-in time) to come back from its final reset.
constexpr double kRebootSeconds = 90.0;

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

std::string Fixed1(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

}  // namespace

std::optional<int> ResultCodeOfWord(unsigned word) {
  if (word == 1) return tr52::ToInt(tr52::ResultCode::Ok);
  if (word == 0) return std::nullopt;
  return static_cast<int>(word);
}

std::string DescribeResult(unsigned result) {
  const auto code = ResultCodeOfWord(result);
  if (!code) return "FAILED (unknown step notice)";
  const std::string text =
      "(result " + std::to_string(*code) + ": " + tr52::ResultCodeName(*code) + ")";
  return *code == tr52::ToInt(tr52::ResultCode::Ok) ? "OK " + text : "FAILED " + text;
}

Station::Station(const Options& options, const PluginOps& ops, std::string logPath)
    : options_(options),
      ops_(ops),
      logPath_(std::move(logPath)),
      records_(tr52::RecordPathFor(logPath_), tr52::ProcessId()),
      rebootWindow_(0) {
  const double scale = options.timeScale > 0 ? options.timeScale : 1.0;
  rebootWindow_ = std::chrono::milliseconds(
      static_cast<long long>(std::max(2.0, kRebootSeconds / scale) * 1000.0));
  for (int port : options.ports) slots_.emplace_back(port);
}

Station::~Station() {
  for (auto& slot : slots_)
    if (slot.window && slot.window->m_hWnd) win::DestroyWindow(slot.window->m_hWnd);
}

bool Station::Init() {
  for (auto& slot : slots_) {
    PortSlot* s = &slot;
    slot.window = std::make_unique<win::CWnd>();
    slot.window->m_hWnd = win::CreateWindowEx(
        nullptr, "StationPort", slot.name, 0, win::Rect{0, 0, 63, 80},
        [this, s](win::HWND hwnd, win::UINT msg, win::WPARAM wp, win::LPARAM lp) -> win::LRESULT {
          if (msg != tr52::WM_DOWNLOAD_RESULT) return win::DefWindowProc(hwnd, msg, wp, lp);
          OnResult(*s, wp);
          return 0;
        },
        win::WS_VISIBLE);
    if (!slot.window->m_hWnd) {
      Out().Error("cannot create the window for " + slot.name);
      return false;
    }
  }
  return true;
}

bool Station::IsPresent(PortSlot& slot) {
  // The plug-in lets port enumeration errors escape to the host: show them (once while they
  // last) and count the port as absent.
  std::string failure;
  try {
    const bool present = ops_.IsDisconnected(slot.port) == 0;
    slot.enumErrorShown = false;
    return present;
  } catch (const std::exception& e) {
    failure = std::string("port enumeration failed: ") + e.what();
  } catch (...) {
    failure = "port enumeration failed";
  }
  if (!slot.enumErrorShown) Out().Line(slot.name, failure);
  slot.enumErrorShown = true;
  return false;
}

void Station::PollPorts() {
  for (auto& slot : slots_) {
    if (slot.state == PortState::Closed) continue;
    // While a download runs the phone reboots and its port comes and goes: not our business.
    if (slot.state == PortState::Running || slot.closePending) continue;
    PollPort(slot, IsPresent(slot));
  }
}

void Station::PollPort(PortSlot& slot, bool present) {
  switch (slot.state) {
    case PortState::Waiting:
      if (present) {
        StartDownload(slot);
      } else {
        slot.connectFailureShown = false;
      }
      break;
    case PortState::Finished:
      if (!present) {
        Out().Line(slot.name, "phone gone");
        const bool ok = slot.sessions.Last().result == 1;
        ClosePane(slot);
        if (ok) {
          // The phone was reset at the end of its download and comes back on its own: that is
          // not a new phone.
          slot.state = PortState::Rebooting;
          slot.rebootDeadline = Clock::now() + rebootWindow_;
        } else {
          slot.state = PortState::Waiting;
          Out().Line(slot.name, "waiting for a phone");
        }
      }
      break;
    case PortState::Rebooting:
      if (present) {
        slot.state = PortState::Returned;
        Out().Line(slot.name, "downloaded phone is back; unplug it to download another");
      } else if (Clock::now() >= slot.rebootDeadline) {
        slot.state = PortState::Waiting;
        Out().Line(slot.name, "waiting for a phone");
      }
      break;
    case PortState::Returned:
    case PortState::Refused:
      if (!present) {
        slot.state = PortState::Waiting;
        Out().Line(slot.name, "phone gone; waiting for a phone");
      }
      break;
    case PortState::Running:
    case PortState::Closed:
      break;
  }
}

void Station::StartDownload(PortSlot& slot) {
  int connected = 0;
  try {
    connected = ops_.IsConnected(slot.port);
  } catch (const std::exception& e) {
    Out().Line(slot.name, std::string("connect failed: ") + e.what());
  } catch (...) {
    Out().Line(slot.name, "connect failed");
  }
  if (connected != 1) {
    // Typically the port is still busy or already gone again; try on the next poll.
    if (!slot.connectFailureShown)
      Out().Line(slot.name, "phone present but the port could not be opened; retrying");
    slot.connectFailureShown = true;
    slot.connectEverFailed = true;
    return;
  }
  slot.connectFailureShown = false;
  Out().Line(slot.name, "phone connected");
  slot.view.Reset();
  slot.sessions.Start(Clock::now());
  if (history_) history_->Started(slot);
  if (ops_.OpenProgress(slot.window.get(), slot.port, 0) != 1) {
    // The plug-in keeps the session it registered; nothing the host can release.
    Out().Line(slot.name, "FAILED: the plug-in could not open the progress pane");
    auto& session = slot.sessions.Last();
    session.refused = true;
    session.ended = Clock::now();
    if (history_) history_->Ended(slot);
    slot.state = options_.batch ? PortState::Closed : PortState::Refused;
    return;
  }
  slot.state = PortState::Running;
  slot.view.Refresh(slot.window->m_hWnd);
}

void Station::OnResult(PortSlot& slot, win::WPARAM wParam) {
  const unsigned result = win::LOWORD(wParam);
  if (slot.state != PortState::Running) {
    Out().Line(slot.name, "ignored a further result message (" + DescribeResult(result) + ")");
    return;
  }
  // Everything the pane showed before the result comes first.
  slot.view.Refresh(slot.window->m_hWnd);
  auto& session = slot.sessions.Last();
  session.hasResult = true;
  session.result = result;
  session.ended = Clock::now();
  // The plug-in writes the download's record before it reports the result.
  session.record = records_.Take(slot.port);
  if (history_) history_->Ended(slot);
  Out().Line(slot.name, "RESULT " + DescribeResult(result) + " after " +
                            Fixed1(Seconds(session.ended - session.started)) + " s");
  slot.state = PortState::Finished;
  // Closing the pane from inside its own message dispatch is avoided: the loop does it.
  if (options_.batch) slot.closePending = true;
}

void Station::ClosePane(PortSlot& slot) {
  const int rc = ops_.CloseProgress(slot.window.get());
  slot.closePending = false;
  slot.view.Reset();
  if (rc != 1)
    Out().Line(slot.name, "CloseProgress found no pane");
  else
    Out().Line(slot.name, "pane closed");
}

void Station::CloseDueResults() {
  for (auto& slot : slots_) {
    if (!slot.closePending) continue;
    ClosePane(slot);
    slot.state = PortState::Closed;
  }
}

bool Station::ClosesDue() const {
  return std::any_of(slots_.begin(), slots_.end(),
                     [](const PortSlot& s) { return s.closePending; });
}

void Station::RefreshPanes() {
  for (auto& slot : slots_)
    if (slot.state == PortState::Running) slot.view.Refresh(slot.window->m_hWnd);
}

bool Station::BatchDone() const {
  return std::all_of(slots_.begin(), slots_.end(), [](const PortSlot& s) {
    return s.state == PortState::Closed && !s.closePending;
  });
}

bool Station::AnyDownloadRunning() const {
  return std::any_of(slots_.begin(), slots_.end(),
                     [](const PortSlot& s) { return s.state == PortState::Running; });
}

void Station::CloseFinishedForExit() {
  for (auto& slot : slots_) {
    if (slot.closePending || slot.state == PortState::Finished) {
      ClosePane(slot);
      slot.state = PortState::Closed;
    }
  }
}

void Station::ShowStop(StopControl& stop, StopPhase phase) {
  if (!stopShown_) {
    const std::string taken = AnyDownloadRunning() ? ": no new phones are taken" : "";
    if (stop.Signal() != 0)
      Out().Line("station", "interrupted (" + SignalName(stop.Signal()) + ")" + taken);
    else if (phase == StopPhase::kDraining)
      Out().Line("station", "stopping" + taken);
  }
  stopShown_ = true;
  if (phase != StopPhase::kDraining) return;
  std::vector<std::string> running;
  for (const auto& slot : slots_)
    if (slot.state == PortState::Running) running.push_back(slot.name);
  const std::string text = WaitingText(running);
  if (text == waitingShown_) return;
  waitingShown_ = text;
  if (!text.empty()) Out().Line("station", text);
  stop.Announce(text);
}

int Station::Run(StopControl& stop) {
  Begin();
  for (;;) {
    if (!Continues(stop)) break;
    const int untilPoll = PollIfDue(stop);
    if (options_.batch && BatchDone()) break;
    // WM_QUIT here is the stop ending a nested loop; the stop's phase says what follows.
    (void)win::PumpMessages(std::min(untilPoll, kRefreshMs));
    AfterMessages();
    if (options_.batch && BatchDone()) break;
  }
  return End(stop);
}

void Station::Begin() {
  start_ = Clock::now();
  nextPoll_ = start_;
  std::string list;
  for (const auto& slot : slots_) list += (list.empty() ? "" : ", ") + slot.name;
  Out().Line("station", "watching " + list + (options_.batch ? " (batch mode)" : ""));
}

bool Station::Continues(StopControl& stop) {
  const StopPhase phase = stop.Phase();
  if (phase != StopPhase::kServing) ShowStop(stop, phase);
  if (stop.TimedOut()) {
    timedOut_ = true;
    return false;
  }
  if (RunEnds(phase, AnyDownloadRunning())) return false;
  return !(options_.batch && BatchDone());
}

int Station::PollIfDue(StopControl& stop) {
  const auto now = Clock::now();
  // A stopping station takes no new phones: the ports are not looked at any more.
  if (stop.Phase() == StopPhase::kServing && now >= nextPoll_) {
    PollPorts();
    nextPoll_ = now + std::chrono::milliseconds(options_.pollMs);
  }
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextPoll_ - Clock::now());
  return static_cast<int>(std::clamp<long long>(wait.count(), 0, options_.pollMs));
}

void Station::AfterMessages() {
  CloseDueResults();
  RefreshPanes();
}

int Station::End(StopControl& stop) {
  wallSeconds_ = Seconds(Clock::now() - start_);
  const bool stopped = stop.Phase() != StopPhase::kServing;
  // A stop signal, or the quit key leaving downloads behind.
  interrupted_ = stop.Signal() != 0 || (stopped && AnyDownloadRunning());
  if (timedOut_) Out().Line("station", "time limit reached");
  CloseFinishedForExit();
  // Drain what the closes left queued so nothing is handled after the module unloads.
  win::PumpMessages(0);
  PrintSummary(timedOut_, interrupted_);
  return RunExitStatus(slots_, options_.batch, timedOut_, stopped);
}

void Station::PrintSummary(bool timedOut, bool interrupted) const {
  int ok = 0;
  for (const auto& slot : slots_)
    if (!slot.sessions.Empty() && slot.sessions.Last().hasResult &&
        slot.sessions.Last().result == 1)
      ++ok;
  Out().Line("station", "summary: " + std::to_string(ok) + " of " + std::to_string(slots_.size()) +
                            " port(s) succeeded" + (timedOut ? " (time limit reached)" : "") +
                            (interrupted ? " (interrupted)" : ""));
  for (const auto& slot : slots_) {
    std::string text;
    if (slot.sessions.Empty()) {
      text = slot.connectEverFailed ? "FAILED (the phone's port could not be opened)"
                                    : "no phone appeared";
    } else if (slot.sessions.Last().refused) {
      text = "FAILED (no progress pane)";
    } else if (!slot.sessions.Last().hasResult) {
      text = "still downloading, no result";
    } else {
      const auto& s = slot.sessions.Last();
      text = DescribeResult(s.result) + " in " + Fixed1(Seconds(s.ended - s.started)) + " s";
    }
    if (slot.sessions.Count() > 1) {
      text += " (last of " + std::to_string(slot.sessions.Count()) + " phones, " +
              std::to_string(slot.sessions.Succeeded()) + " OK)";
    }
    Out().Line("station", "  " + slot.name + ": " + text);
  }
}

RunReport Station::Report() const {
  RunReport report;
  report.wallSeconds = wallSeconds_;
  report.timedOut = timedOut_;
  report.interrupted = interrupted_;
  report.log = logPath_;
  report.records = records_.Path();
  for (const auto& slot : slots_) report.ports.push_back(MakePortReport(slot));
  return report;
}

}  // namespace station
