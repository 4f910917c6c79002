#include "plugin_log_file.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace station {
namespace {

// The header's three lines fit well within this many bytes (the executable path included).
constexpr size_t kHeaderBytes = 8192;

std::string ReadHead(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string head(kHeaderBytes, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  return head;
}

}  // namespace

bool LogWrittenByProcess(std::string_view logText, unsigned pid) {
  char tag[40];
  std::snprintf(tag, sizeof tag, "(ProcID: 0x%08x), ", pid);
  const std::string_view head = logText.substr(0, kHeaderBytes);
  // The header's second line, right after the row of "=" that opens the file.
  const auto started = head.find("Log is started on ");
  if (started == std::string_view::npos || started > 128) return false;
  // The process id closes the line, right before the build time's line.
  const auto compiled = head.find("\r\ncompile time : ", started);
  const std::string_view want(tag);
  if (compiled == std::string_view::npos || compiled < started + want.size()) return false;
  return head.substr(compiled - want.size(), want.size()) == want;
}

uint64_t LogOffsetForNewDownload(const std::string& path, unsigned pid) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  if (!LogWrittenByProcess(ReadHead(path), pid)) return 0;
  return static_cast<uint64_t>(st.st_size);
}

std::string ReadOwnLog(const std::string& path, unsigned pid) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::string log = text.str();
  return LogWrittenByProcess(log, pid) ? log : std::string();
}

}  // namespace station
