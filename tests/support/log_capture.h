// Reads back what the process log received during a test.
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/process_log.h"
#include "support/temp_dir.h"

namespace tr52test {

// The lines of log text ("\r\n" each), without their time stamps (and the "  : " after them).
inline std::vector<std::string> LogLinesOf(const std::string& text) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    const size_t sep = line.find("  : ");
    out.push_back(sep == std::string::npos ? line : line.substr(sep + 4));
    pos = end + 2;
  }
  return out;
}

class LogCapture {
 public:
  // Routes Log() to a log in a temporary folder (once per test program, for the whole program)
  // and remembers where this capture starts.
  LogCapture() {
    static TempDir dir;
    static tr52::ProcessLog log;
    static const tr52::LogTarget route(log);
    path_ = dir.File("unit_test_log.txt");
    if (!log.IsOpen()) log.Open(path_);
    start_ = Contents().size();
  }

  // Lines logged since construction, without their time stamps (and the "  : " after them).
  std::vector<std::string> Lines() const { return LogLinesOf(Contents().substr(start_)); }
  size_t Count(const std::string& line) const {
    size_t n = 0;
    for (const auto& l : Lines()) n += (l == line);
    return n;
  }
  bool Has(const std::string& line) const { return Count(line) > 0; }
  // Index of the first line equal to `line` at or after `from`; -1 when absent.
  int Find(const std::string& line, int from = 0) const {
    const auto lines = Lines();
    for (size_t i = static_cast<size_t>(from); i < lines.size(); ++i)
      if (lines[i] == line) return static_cast<int>(i);
    return -1;
  }

 private:
  std::string Contents() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  std::string path_;
  size_t start_ = 0;
};

}  // namespace tr52test
