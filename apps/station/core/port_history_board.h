// What the history says of each served port, for a front end to show beside its pane: a short
// label ("last: OK 01-31 09:15", "this phone: FAILED 1015 01-31 09:15"). The history's thread
// sets it; front ends read it whenever they draw, from any thread.
#pragma once

#include <map>
#include <mutex>
#include <string>

namespace station {

class PortHistoryBoard {
 public:
  // `port` is the port's name, as its window's text ("COM5").
  void Set(const std::string& port, std::string label);
  // Empty when the history knows nothing of the port (or is off).
  std::string Label(const std::string& port) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::string> labels_;
};

}  // namespace station
