// The station's side of the history: the recorder the options ask for (none with
// --no-history), a row for every download the station starts and its completion when the
// download ends, the ports' last downloads on a board for the front ends, and what the history
// has to say as the station's lines ("COM5 | history: ...", "history | ..."). Everything is
// queued to the history's threads: the station's loop never waits for it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "history/history_recorder.h"
#include "options.h"
#include "port_history_board.h"
#include "port_slot.h"

namespace station {

class StationHistory {
 public:
  // Starts the history for `options` (off with --no-history); each of `ports` gets its last
  // download at this station on the board.
  explicit StationHistory(const Options& options);
  // Tests: a recorder made elsewhere (nullptr: off).
  explicit StationHistory(std::unique_ptr<history::HistoryRecorder> recorder,
                          const std::vector<int>& ports = {});
  ~StationHistory();
  StationHistory(const StationHistory&) = delete;
  StationHistory& operator=(const StationHistory&) = delete;

  bool On() const { return recorder_ != nullptr; }
  const PortHistoryBoard& Board() const { return board_; }

  // The slot's newest session began: its row is written, and the phone's (or port's) earlier
  // download is said and put on the board.
  void Started(PortSlot& slot);
  // The slot's newest session ended (its result came, or the pane was refused).
  void Ended(const PortSlot& slot);

  // Writes what is queued and lets the line database have it (bounded); idempotent.
  void Close();

 private:
  void ShowPorts(const std::vector<int>& ports);

  PortHistoryBoard board_;
  std::unique_ptr<history::HistoryRecorder> recorder_;
};

// The history file (and line database) the options name, for --info beside the other files:
// "history           PATH (station ID)", or "... off".
std::string HistoryInfo(const Options& options);

// The board's label for a download: "last: OK 01-31 09:15" ("this phone: ..." when
// `otherPort`: the phone's last download was on another port or station).
std::string LastDownloadLabel(const history::DownloadRow& row, bool otherPort);
// What the station says when a phone is plugged in: its (or the port's) download before this
// one; empty when there is nothing worth saying.
std::string PreviousDownloadText(const history::DownloadRow& now,
                                 const std::optional<history::DownloadRow>& previous);

}  // namespace station
