// Timestamped text lines on standard output, one source per line ("COM5 | ...").
#pragma once

#include <mutex>
#include <string>

namespace station {

class Console {
 public:
  // One line per text line of `text` (carriage returns dropped), each as
  // "hh:mm:ss.mmm <source> | <line>". Safe from any thread.
  void Line(const std::string& source, const std::string& text);
  // Without timestamp and source (summaries, prompts).
  void Raw(const std::string& text);
  void Error(const std::string& text);  // "station: error: ..." on standard error

 private:
  std::mutex mutex_;
};

Console& Out();
std::string PortName(int port);  // "COM5"

}  // namespace station
