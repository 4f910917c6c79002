// One view of the machine's phone ports, kept in memory, so that the host's question "is there a
// phone on COM<n>?" (asked for every port it serves, about once a second) is answered in
// microseconds instead of by a listing of every serial port.
//
// The view is what ListSerialPorts would list (the same code builds it) and is brought up to
// date by events: udev's announcements of ttys coming and going, and an inotify watch on the
// port table's folder. A question first takes the events that came, without waiting, and applies
// them; the questions of one sweep of the host over its ports (ascending numbers, within 10 ms)
// share that look, so an event is seen by the next sweep at the latest. The COM map is asked only
// when the set of USB phone positions changed. A full
// listing is made when the view is first used, when the folders it was made for change (the
// environment names others), and when an event source lost events or cannot be had (then at
// most once a second). A declared port is present only while its device node exists, and a
// pseudo-terminal's node vanishes without an event: the node of a declared port is looked at
// (one stat) each time that port is asked about.
//
// One object per plug-in module (the module creates it and destroys it at unload); its methods
// may be called from any thread.
#pragma once

#include <bitset>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "link/udev_ports.h"
#include "platform/folder_watch.h"
#include "platform/port_table.h"

namespace tr52 {

class PortView {
 public:
  enum class Presence { Present, Absent, Unknown };

  // Opens nothing yet: the first question builds the view.
  PortView();
  ~PortView();
  PortView(const PortView&) = delete;
  PortView& operator=(const PortView&) = delete;

  // Whether the host sees a phone port numbered `com` (EnumPhonePorts would list it). Unknown
  // when the serial ports cannot be listed; `why` then says why.
  Presence PhonePort(int com, std::string& why);

  // How often the view read its sources in full, for tests and benchmarks.
  struct Reads {
    uint64_t ttyListings = 0;  // udev enumerations
    uint64_t tableReads = 0;   // port table folder reads
    uint64_t mapUpdates = 0;   // COM map updates
  };
  Reads Counts() const;

 private:
  void Refresh(uint64_t nowMs);  // throws UdevError
  bool TakeTtyEvents(bool waiting, uint64_t nowMs);
  bool TakeTableEvents(bool waiting, uint64_t nowMs);
  bool Number(uint64_t nowMs);
  void Rebuild();

  mutable std::mutex mutex_;
  std::unique_ptr<UdevTtyMonitor> monitor_;
  bool monitorRefused_ = false;
  FolderWatch tableWatch_;
  std::string tableDir_, mapDir_;  // the folders the view was made for
  bool made_ = false;
  bool ttysStale_ = true;
  uint64_t lastTtyListingMs_ = 0;
  uint64_t lastTableReadMs_ = 0;
  uint64_t lastNumberingMs_ = 0;
  uint64_t lastLookMs_ = 0;
  int lastAsked_ = -1;

  std::map<std::string, UdevTty> ttys_;                // by sysfs path
  std::vector<DeclaredPort> entries_;                  // every sound port table entry
  std::map<std::string, std::optional<int>> numbers_;  // COM number per phone position key
  bool unnumbered_ = false;                            // one of them has none
  std::set<int> nodesPresent_;                         // entries whose node existed at Rebuild
  std::bitset<256> hostSees_;                          // the answers
  Reads reads_;
};

}  // namespace tr52
