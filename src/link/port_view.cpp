#include "link/port_view.h"

#include <poll.h>

#include <algorithm>

#include "base/process_log.h"
#include "link/com_map.h"
#include "link/serial_ports.h"
#include "platform/clock.h"

namespace tr52 {

namespace {

// Without events from a source, it is read again at most this often.
constexpr uint64_t kRereadMs = 1000;
// Questions of one sweep of the host's ports share a look at the events for at most this long.
constexpr uint64_t kSweepMs = 10;

bool IsEntryName(std::string_view name) {
  return ComFromEntryName(name).has_value();
}

}  // namespace

PortView::PortView() = default;
PortView::~PortView() = default;

PortView::Reads PortView::Counts() const {
  std::lock_guard hold(mutex_);
  return reads_;
}

PortView::Presence PortView::PhonePort(int com, std::string& why) {
  std::lock_guard hold(mutex_);
  const uint64_t now = NowMs();
  // The host asks its ports in turn, lowest number first: one sweep shares one look at the event
  // sources (a look is a system call or two; a sweep of 256 ports would spend most of its time
  // there). A question looks again when its number is not above the last one asked (a new
  // sweep, or the same port again), when the last look is kSweepMs old, and after a failure.
  const bool look = !made_ || ttysStale_ || com <= lastAsked_ || now - lastLookMs_ >= kSweepMs;
  lastAsked_ = com;
  try {
    if (look) {
      lastLookMs_ = now;
      Refresh(now);
    }
  } catch (const UdevError& e) {
    why = e.what();
    return Presence::Unknown;
  }
  // A declared port counts while its node exists; a pseudo-terminal's goes without an event.
  const auto entry = std::find_if(entries_.begin(), entries_.end(),
                                  [com](const DeclaredPort& d) { return d.com == com; });
  if (entry != entries_.end() && DeviceNodeExists(*entry) != (nodesPresent_.count(com) > 0))
    Rebuild();
  return com >= 0 && com < static_cast<int>(hostSees_.size()) && hostSees_[com] ? Presence::Present
                                                                                : Presence::Absent;
}

void PortView::Refresh(uint64_t now) {
  const std::string tableDir = PortTableDir(), mapDir = ComMapDir();
  if (!made_ || tableDir != tableDir_ || mapDir != mapDir_) {
    // Made for other folders (or not made yet): everything is read again.
    tableDir_ = tableDir;
    mapDir_ = mapDir;
    ttysStale_ = true;
    lastTableReadMs_ = 0;
    numbers_.clear();
    unnumbered_ = false;
    made_ = true;
  }
  if (!monitor_ && !monitorRefused_) {
    try {
      // Listening starts before the listing below, so nothing is missed in between.
      monitor_ = std::make_unique<UdevTtyMonitor>();
      ttysStale_ = true;
    } catch (const UdevError& e) {
      monitorRefused_ = true;
      LogLastingNotes({std::string("Port view: no udev events (") + e.what() +
                       "); serial ports are listed once a second"},
                      "Port view");
    }
  }
  // One look at both event sources; most looks find nothing waiting and end here.
  pollfd waiting[2] = {{monitor_ ? monitor_->Fd() : -1, POLLIN, 0}, {tableWatch_.Fd(), POLLIN, 0}};
  if (poll(waiting, 2, 0) < 0) waiting[0].revents = waiting[1].revents = POLLIN;
  const bool ttysChanged = TakeTtyEvents(waiting[0].revents != 0, now);
  const bool tableChanged = TakeTableEvents(waiting[1].revents != 0, now);
  // A phone position left without a number (the map full of recent ones) asks again later.
  const bool numbered =
      (ttysChanged || (unnumbered_ && now - lastNumberingMs_ >= kRereadMs)) && Number(now);
  if (ttysChanged || tableChanged || numbered) Rebuild();
}

bool PortView::TakeTtyEvents(bool waiting, uint64_t nowMs) {
  bool changed = false;
  if (monitor_ && waiting) {
    std::vector<UdevTtyMonitor::Change> changes;
    if (!monitor_->Drain(changes)) ttysStale_ = true;  // events lost: list again
    for (auto& c : changes) {
      if (c.tty)
        ttys_.insert_or_assign(c.sysPath, std::move(*c.tty));
      else
        ttys_.erase(c.sysPath);
      changed = true;
    }
  } else if (!monitor_ && nowMs - lastTtyListingMs_ >= kRereadMs) {
    ttysStale_ = true;
  }
  if (ttysStale_) {
    std::vector<UdevTty> listed = ListUdevTtys();
    ++reads_.ttyListings;
    lastTtyListingMs_ = nowMs;
    ttys_.clear();
    for (UdevTty& t : listed) {
      const std::string path = t.SysPath();
      ttys_.insert_or_assign(path, std::move(t));
    }
    ttysStale_ = false;
    changed = true;
  }
  return changed;
}

bool PortView::TakeTableEvents(bool waiting, uint64_t nowMs) {
  bool stale;
  if (tableWatch_.Watching() && tableWatch_.Folder() == tableDir_)
    stale = waiting && tableWatch_.Changed(IsEntryName);
  else  // watched from now on (then read), or, missing or refused, read once a second
    stale = tableWatch_.Watch(tableDir_) || lastTableReadMs_ == 0 ||
            nowMs - lastTableReadMs_ >= kRereadMs;
  if (!stale) return false;
  PortTableListing table = ReadPortTableEntries();
  ++reads_.tableReads;
  lastTableReadMs_ = std::max<uint64_t>(nowMs, 1);
  LogLastingNotes(table.notes, "Port table");
  if (table.ports.size() == entries_.size() &&
      std::equal(table.ports.begin(), table.ports.end(), entries_.begin(),
                 [](const DeclaredPort& a, const DeclaredPort& b) {
                   return a.com == b.com && a.devicePath == b.devicePath &&
                          a.friendlyName == b.friendlyName;
                 }))
    return false;
  entries_ = std::move(table.ports);
  return true;
}

bool PortView::Number(uint64_t nowMs) {
  std::vector<UdevTty> ttys;
  for (const auto& [path, t] : ttys_) ttys.push_back(t);
  std::set<std::string> keys;
  for (std::string& key : PositionKeys(ttys))
    if (!key.empty()) keys.insert(std::move(key));
  const bool same =
      keys.size() == numbers_.size() && std::equal(keys.begin(), keys.end(), numbers_.begin(),
                                                   [](const std::string& k, const auto& n) {
                                                     return k == n.first && n.second.has_value();
                                                   });
  if (same) return false;
  // The positions that came are numbered; those that went were seen until now.
  ComMapUpdate update;
  update.present.assign(keys.begin(), keys.end());
  for (const auto& [key, com] : numbers_)
    if (!keys.count(key)) update.vanished.push_back(key);
  for (const DeclaredPort& d : entries_)
    if (DeviceNodeExists(d)) update.reserved.insert(d.com);
  std::vector<std::string> notes;
  const std::vector<std::optional<int>> numbers = AssignComNumbers(mapDir_, update, notes);
  ++reads_.mapUpdates;
  lastNumberingMs_ = nowMs;
  LogLastingNotes(notes, "COM map");
  numbers_.clear();
  unnumbered_ = false;
  for (size_t i = 0; i < update.present.size(); ++i) {
    numbers_[update.present[i]] = numbers[i];
    unnumbered_ = unnumbered_ || !numbers[i];
  }
  return true;
}

void PortView::Rebuild() {
  std::vector<DeclaredPort> declared;
  nodesPresent_.clear();
  for (const DeclaredPort& d : entries_)
    if (DeviceNodeExists(d)) {
      declared.push_back(d);
      nodesPresent_.insert(d.com);
    }
  std::vector<UdevTty> ttys;
  for (const auto& [path, t] : ttys_) ttys.push_back(t);
  const std::vector<std::string> keys = PositionKeys(ttys);
  std::vector<std::optional<int>> numbers(ttys.size());
  for (size_t i = 0; i < ttys.size(); ++i)
    if (const auto it = numbers_.find(keys[i]); !keys[i].empty() && it != numbers_.end())
      numbers[i] = it->second;
  hostSees_.reset();
  for (const ListedPort& p : BuildPortListing(std::move(declared), ttys, numbers, false))
    if (HostSeesPort(p)) hostSees_.set(static_cast<size_t>(*p.Com()));
}

}  // namespace tr52
