// The COM map: a persistent COM number per physical USB position, so that a phone keeps its
// number whatever kernel name (ttyACM<n>, ttyUSB<n>) it gets and whichever mode (product ID)
// it is in, across re-enumeration and reboots.
//
// Location: the folder named by the environment variable TR52_COM_MAP_DIR, else
// $XDG_STATE_HOME/tr52, else $HOME/.local/state/tr52 (created with mode 0700); the file is
// "com-map" there. One line per position, "COM<n> <position> <last seen>", n from
// kFirstMappedCom to kLastMappedCom, the last time the position was seen in UTC as
// "YYYY-MM-DDTHH:MM:SSZ"; a line without that time (maps written before times were kept) reads
// as a position whose last sighting is unknown, the oldest of all. Lines starting with '#' are
// comments. A new position gets the lowest free number; when none is free, it gets the number of
// the position seen longest ago (not in the last minutes), which loses it. The file is replaced
// atomically under a lock shared by every process of the user, so a reader never sees half a map
// and two processes never hand out one number twice; a lock held too long by another process is
// given up after a bounded wait. A damaged map (a bad line, a duplicate, an oversized or unreadable
// file) is rebuilt from what is still sound, with a note for the log.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tr52 {

constexpr int kFirstMappedCom = 100;
constexpr int kLastMappedCom = 255;
// Longest position key kept, and largest map file read.
constexpr size_t kMaxComMapKey = 255;
constexpr size_t kMaxComMapBytes = 64 * 1024;
// A position's stored last sighting moves only when it is this many seconds off, so that
// listings of the same ports do not rewrite the file each time.
constexpr int64_t kComMapSeenResolution = 60;
// A position seen less than this many seconds ago keeps its number even when the map is full:
// it may be a phone rebooting in the middle of its download.
constexpr int64_t kComMapRecycleAfter = 600;
// How long a listing waits for another process's lock on the map before going on without it.
constexpr int kComMapLockWaitMs = 2000;

// Folder of the map (TR52_COM_MAP_DIR or the default); empty when no folder can be named.
std::string ComMapDir();

// "YYYY-MM-DDTHH:MM:SSZ" for seconds since 1970 (UTC), and back; nullopt for anything else.
std::string FormatUtcStamp(int64_t seconds);
std::optional<int64_t> ParseUtcStamp(std::string_view text);

class ComMap {
 public:
  struct Entry {
    int com = 0;
    int64_t lastSeen = 0;  // seconds since 1970 (UTC); 0 when not known
  };
  // What Assign gave a position; when it took the number of another position, which one and
  // when that one was last seen.
  struct Assignment {
    std::optional<int> com;
    std::string recycledFrom;
    int64_t recycledLastSeen = 0;
  };

  // Parses map text. Every line that is not sound (or repeats a position or a number already
  // seen) is dropped and described in `problems`; a line whose only fault is its time keeps
  // its number with the time unknown.
  static ComMap Parse(std::string_view text, std::vector<std::string>& problems);
  // The file text: a comment line, then the entries by number.
  std::string Format() const;

  std::optional<int> Find(const std::string& position) const;
  std::optional<Entry> Lookup(const std::string& position) const;
  // Records that a known position was seen at `now` (see kComMapSeenResolution).
  void Seen(const std::string& position, int64_t now);
  // The position's number, and the position seen at `now`. A new position gets the lowest free
  // number that is not in `reserved`; when there is none, the number of the position seen
  // longest ago (the lower number among equals) that is not in `keep`, was not seen in the last
  // kComMapRecycleAfter seconds and whose number is not reserved. No number for an invalid key,
  // or when no number can be had.
  Assignment Assign(const std::string& position, const std::set<int>& reserved,
                    const std::set<std::string>& keep, int64_t now);
  bool Changed() const { return changed_; }
  size_t Size() const { return byPosition_.size(); }

  static bool IsValidKey(std::string_view position);

 private:
  void Add(const std::string& position, Entry entry);

  std::map<std::string, Entry> byPosition_;
  std::map<int, std::string> byNumber_;
  bool changed_ = false;
};

// One update of the map by a listing of the machine's ports.
struct ComMapUpdate {
  // Positions present now, numbered in this order; they are seen now and never lose a number.
  std::vector<std::string> present;
  // Positions that were present until now and are gone: seen now, no number asked.
  std::vector<std::string> vanished;
  // Numbers never handed out (the port table's).
  std::set<int> reserved;
  int64_t now = 0;  // seconds since 1970; 0: the system's time
  int lockWaitMs = kComMapLockWaitMs;
};

// Loads the map in `dir` under its lock, assigns numbers to `update.present` with
// ComMap::Assign, records the sightings, and writes the map back when it changed or had to be
// rebuilt. Returns one number per present position (nullopt: invalid key or no number left).
// What happened that a user should know (a number taken from another position, no number left,
// a map rebuilt or not saved, a lock not had) is added to `notes` as log lines; the numbers are
// still returned. Without the lock, the map is read and numbers are given as usual, but nothing
// is saved.
std::vector<std::optional<int>> AssignComNumbers(const std::string& dir, const ComMapUpdate& update,
                                                 std::vector<std::string>& notes);

}  // namespace tr52
