#include "console.h"

#include <sys/time.h>

#include <cstdio>
#include <ctime>

namespace station {
namespace {

std::string Timestamp() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  tm local{};
  localtime_r(&tv.tv_sec, &local);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(tv.tv_usec / 1000));
  return buf;
}

}  // namespace

void Console::Line(const std::string& source, const std::string& text) {
  const std::string stamp = Timestamp();
  std::lock_guard<std::mutex> lock(mutex_);
  size_t start = 0;
  do {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    std::erase(line, '\r');
    std::fprintf(stdout, "%s %s | %s\n", stamp.c_str(), source.c_str(), line.c_str());
    start = end + 1;
  } while (start < text.size());
  std::fflush(stdout);
}

void Console::Raw(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

void Console::Error(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::fflush(stdout);
  std::fprintf(stderr, "station: error: %s\n", text.c_str());
  std::fflush(stderr);
}

Console& Out() {
  static Console console;
  return console;
}

std::string PortName(int port) {
  return "COM" + std::to_string(port);
}

}  // namespace station
