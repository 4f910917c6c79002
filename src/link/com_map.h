// The COM map: a persistent COM number per physical USB position, so that a phone keeps its
// number whatever kernel name (ttyACM<n>, ttyUSB<n>) it gets and whichever mode (product ID)
// it is in, across re-enumeration and reboots.
//
// Location: the folder named by the environment variable TR52_COM_MAP_DIR, else
// $XDG_STATE_HOME/tr52, else $HOME/.local/state/tr52 (created with mode 0700); the file is
// "com-map" there. One line per position, "COM<n> <position>", n from kFirstMappedCom to
// kLastMappedCom; lines starting with '#' are comments. A new position gets the lowest free
// number. The file is replaced in one step (temporary file + rename) under a lock shared by
// every process of the user, so a reader never sees half a map and two processes never hand
// out one number twice. A damaged map (a bad line, a duplicate, an oversized or unreadable
// file) is rebuilt from what is still sound, with a note for the log.
#pragma once

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

// Folder of the map (TR52_COM_MAP_DIR or the default); empty when no folder can be named.
std::string ComMapDir();

class ComMap {
 public:
  // Parses map text. Every line that is not sound (or repeats a position or a number already
  // seen) is dropped and described in `problems`.
  static ComMap Parse(std::string_view text, std::vector<std::string>& problems);
  // The file text: a comment line, then the entries by number.
  std::string Format() const;

  std::optional<int> Find(const std::string& position) const;
  // The position's number; a new position gets the lowest free number that is not in
  // `reserved`. nullopt when the position is not a valid key or no number is left.
  std::optional<int> Assign(const std::string& position, const std::set<int>& reserved);
  bool Changed() const { return changed_; }
  size_t Size() const { return byPosition_.size(); }

  static bool IsValidKey(std::string_view position);

 private:
  std::map<std::string, int> byPosition_;
  std::set<int> numbers_;
  bool changed_ = false;
};

// Loads the map in `dir` under its lock, assigns numbers to `positions` (in this order) with
// ComMap::Assign, and writes the map back when it changed or had to be rebuilt. Returns one
// number per position (nullopt: invalid key or map full). What went wrong with the file
// (rebuilt, not saved) is added to `notes` as log lines; the numbers are still returned.
std::vector<std::optional<int>> AssignComNumbers(const std::string& dir,
                                                 const std::vector<std::string>& positions,
                                                 const std::set<int>& reserved,
                                                 std::vector<std::string>& notes);

}  // namespace tr52
