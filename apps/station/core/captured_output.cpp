#include "captured_output.h"

#include <unistd.h>

#include <cerrno>

namespace station {
namespace {

// The port's own text of a port line: what follows "hh:mm:ss.mmm COM<n> | "; npos when `line`
// is no port line.
size_t PortTextStart(std::string_view line) {
  if (line.size() < 13 || line[2] != ':' || line[5] != ':' || line[8] != '.' || line[12] != ' ')
    return std::string_view::npos;
  size_t i = 13;
  if (line.substr(i, 3) != "COM") return std::string_view::npos;
  i += 3;
  const size_t digits = i;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
  if (i == digits || line.substr(i, 3) != " | ") return std::string_view::npos;
  return i + 3;
}

void WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a closed or broken output ends the output, nothing else
    data += n;
    size -= static_cast<size_t>(n);
  }
}

}  // namespace

bool IsPortLine(std::string_view line) {
  return PortTextStart(line) != std::string_view::npos;
}

bool KeepCapturedLine(std::string_view head) {
  const size_t text = PortTextStart(head);
  return text == std::string_view::npos || head.substr(text, 7) == "RESULT ";
}

std::string WithoutPortLines(const std::string& text) {
  std::string kept;
  auto keep = [&kept](const char* data, size_t size) { kept.append(data, size); };
  CaptureFilter filter;
  filter.Feed(text, keep);
  filter.Finish(keep);
  return kept;
}

void GiveBackOutput(int savedOut, int savedErr, int capture) {
  const int replay = savedOut >= 0 ? STDOUT_FILENO : STDERR_FILENO;
  const int saved[2] = {savedOut, savedErr};
  for (int fd = STDOUT_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (saved[fd - 1] < 0) continue;
    ::dup2(saved[fd - 1], fd);
    ::close(saved[fd - 1]);
  }
  if (capture < 0) return;
  auto write = [replay](const char* data, size_t size) { WriteAll(replay, data, size); };
  CaptureFilter filter;
  char buffer[4096];
  off_t at = 0;
  for (;;) {
    const ssize_t n = ::pread(capture, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    filter.Feed(std::string_view(buffer, static_cast<size_t>(n)), write);
    at += n;
  }
  filter.Finish(write);
  ::close(capture);
}

}  // namespace station
